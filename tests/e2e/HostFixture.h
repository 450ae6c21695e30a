#pragma once

#include "spuhost/Plugin.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

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
        char pattern[] = "/tmp/spu-e2e-XXXXXX";
        dir = mkdtemp(pattern);
        char buffer[4096];
        oldDir = getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : "/";
        ASSERT_EQ(0, chdir(dir.c_str()));
    }

    void TearDown() override
    {
        ASSERT_EQ(0, chdir(oldDir.c_str()));
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    // SPUinit in the test's folder, so each test starts from a reset SPU.
    void init() { ASSERT_EQ(0, plugin().SPUinit()); }

    std::string dir;
    std::string oldDir;
};
