#pragma once

#include "spuhost/Plugin.h"
#include "support/ScratchDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

// The built plugin, loaded once per test program with dlopen as a host loads it,
// and a fresh temporary working directory per test (the plugin reads and writes
// ./cfg/spuTalvane.cfg relative to it).
class HostTest : public ::testing::Test
{
protected:
    static Plugin& plugin()
    {
        static std::unique_ptr<Plugin> loaded;
        if (!loaded)
        {
            loaded.reset(new Plugin());
            if (!loaded->load(SPU_PLUGIN_PATH))
            {
                ADD_FAILURE() << loaded->error();
                std::abort();
            }
        }
        return *loaded;
    }

    void SetUp() override
    {
        dir = scratch.path();
        ASSERT_TRUE(scratch.enter()) << scratch.error();
    }

    void TearDown() override { ASSERT_TRUE(scratch.close()) << scratch.error(); }

    // A file in the test's folder.
    std::string file(const std::string& name) const { return dir + "/" + name; }

    // SPUinit in the test's folder, so each test starts from a reset SPU.
    void init() { ASSERT_EQ(0, plugin().SPUinit()); }

    ScratchDir scratch{ScratchDir::StayPut, "spu-e2e"};
    std::string dir; // the scratch folder's path, for the tests' commands
};
