#pragma once

#include "plugin/Globals.h"

#include <gtest/gtest.h>

// Tests that work on the global SPU: each starts from a reset SPU with the
// configuration statics at their defaults, as SPUinit leaves them.
class SpuTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        theConfig.setDefaultValue();
        theConfig.updateConfigValue();
        theSPU.init();
    }

    static void write(unsigned long address, unsigned short value) { theSPU.writeRegister(address, value); }
    static unsigned short read(unsigned long address) { return theSPU.readRegister(address); }
    static unsigned short ramWord(int byteAddress) { return theSPU.getSoundBuffer()[byteAddress >> 1]; }
};
