#include "reverb/Reverb.h"

#include <cstring>

int Reverb::ConfigReverbType = 0;

Reverb::Reverb() : soundBuffer(nullptr)
{
    unsigned short zero[32];
    std::memset(zero, 0, sizeof(zero));
    setReverb(zero);
    counter = 0;
    previousSendL = previousSendR = 0;
    lastReturnL = lastReturnR = 0;
    startAddress = currentAddress = 0;
}

Reverb::~Reverb() {}

void Reverb::setStartAddress(unsigned short value)
{
    startAddress = currentAddress = value * 4;
}

void Reverb::setReverb(unsigned short* block)
{
    for (int n = 0; n < 32; ++n)
        R[n] = static_cast<short>(block[n]);
    K1 = 32768 - R[2];
    K2 = static_cast<int>(block[8]) - 32768;
}

void Reverb::doReverb(int& left, int& right)
{
    switch (ConfigReverbType)
    {
    case 0:
        left = 0;
        right = 0;
        break;
    default:
        break;
    }
}
