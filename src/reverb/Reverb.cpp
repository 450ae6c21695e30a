#include "reverb/Reverb.h"

#include "reverb/SoundRam.h"

#include <cstdint>
#include <cstring>

int Reverb::ConfigReverbType = 0;

const Reverb::Preset Reverb::Presets[PresetCount] = {
    {"Reverb off", 0xFFFE, {0}},
    {"Room", 0xFB28, {0x007D, 0x005B, 0x6D80, 0x54B8, 0xBED0, 0x0000, 0x0000, 0xBA80, 0x5800, 0x5300, 0x04D6,
                      0x0333, 0x03F0, 0x0227, 0x0374, 0x01EF, 0x0334, 0x01B5, 0x0000, 0x0000, 0x0000, 0x0000,
                      0x0000, 0x0000, 0x0000, 0x0000, 0x01B4, 0x0136, 0x00B8, 0x005C, 0x8000, 0x8000}},
    {"Studio Small", 0xFC18, {0x0033, 0x0025, 0x70F0, 0x4FA8, 0xBCE0, 0x4410, 0xC0F0, 0x9C00,
                              0x5280, 0x4EC0, 0x03E4, 0x031B, 0x03A4, 0x02AF, 0x0372, 0x0266,
                              0x031C, 0x025D, 0x025C, 0x018E, 0x022F, 0x0135, 0x01D2, 0x00B7,
                              0x018F, 0x00B5, 0x00B4, 0x0080, 0x004C, 0x0026, 0x8000, 0x8000}},
    {"Studio Medium", 0xF6F8, {0x00B1, 0x007F, 0x70F0, 0x4FA8, 0xBCE0, 0x4510, 0xBEF0, 0xB4C0,
                               0x5280, 0x4EC0, 0x0904, 0x076B, 0x0824, 0x065F, 0x07A2, 0x0616,
                               0x076C, 0x05ED, 0x05EC, 0x042E, 0x050F, 0x0305, 0x0462, 0x02B7,
                               0x042F, 0x0265, 0x0264, 0x01B2, 0x0100, 0x0080, 0x8000, 0x8000}},
    {"Studio Large", 0xF204, {0x00E3, 0x00A9, 0x6F60, 0x4FA8, 0xBCE0, 0x4510, 0xBEF0, 0xA680,
                              0x5680, 0x52C0, 0x0DFB, 0x0B58, 0x0D09, 0x0A3C, 0x0BD9, 0x0973,
                              0x0B59, 0x08DA, 0x08D9, 0x05E9, 0x07EC, 0x04B0, 0x06EF, 0x03D2,
                              0x05EA, 0x031D, 0x031C, 0x0238, 0x0154, 0x00AA, 0x8000, 0x8000}},
    {"Hall", 0xEA44, {0x01A5, 0x0139, 0x6000, 0x5000, 0x4C00, 0xB800, 0xBC00, 0xC000, 0x6000, 0x5C00, 0x15BA,
                      0x11BB, 0x14C2, 0x10BD, 0x11BC, 0x0DC1, 0x11C0, 0x0DC3, 0x0DC0, 0x09C1, 0x0BC4, 0x07C1,
                      0x0A00, 0x06CD, 0x09C2, 0x05C1, 0x05C0, 0x041A, 0x0274, 0x013A, 0x8000, 0x8000}},
    {"Space Echo", 0xE128, {0x033D, 0x0231, 0x7E00, 0x5000, 0xB400, 0xB000, 0x4C00, 0xB000,
                            0x6000, 0x5400, 0x1ED6, 0x1A31, 0x1D14, 0x183B, 0x1BC2, 0x16B2,
                            0x1A32, 0x15EF, 0x15EE, 0x1055, 0x1334, 0x0F2D, 0x11F6, 0x0C5D,
                            0x1056, 0x0AE1, 0x0AE0, 0x07A2, 0x0464, 0x0232, 0x8000, 0x8000}},
    {"Echo", 0xCFF8, {0x0001, 0x0001, 0x7FFF, 0x7FFF, 0x0000, 0x0000, 0x0000, 0x8100, 0x0000, 0x0000, 0x1FFF,
                      0x0FFF, 0x1005, 0x0005, 0x0000, 0x0000, 0x1005, 0x0005, 0x0000, 0x0000, 0x0000, 0x0000,
                      0x0000, 0x0000, 0x0000, 0x0000, 0x1004, 0x1002, 0x0004, 0x0002, 0x8000, 0x8000}},
    {"Delay", 0xCFF8, {0x0001, 0x0001, 0x7FFF, 0x7FFF, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x1FFF,
                       0x0FFF, 0x1005, 0x0005, 0x0000, 0x0000, 0x1005, 0x0005, 0x0000, 0x0000, 0x0000, 0x0000,
                       0x0000, 0x0000, 0x0000, 0x0000, 0x1004, 0x1002, 0x0004, 0x0002, 0x8000, 0x8000}},
    {"Half Echo", 0xF880, {0x0017, 0x0013, 0x70F0, 0x4FA8, 0xBCE0, 0x4510, 0xBEF0, 0x8500,
                           0x5F80, 0x54C0, 0x0371, 0x02AF, 0x02E5, 0x01DF, 0x02B0, 0x01D7,
                           0x0358, 0x026A, 0x01D6, 0x011E, 0x012D, 0x00B1, 0x011F, 0x0059,
                           0x01A0, 0x00E3, 0x0058, 0x0040, 0x0028, 0x0014, 0x8000, 0x8000}},
};

namespace
{
const int SoundRamLast = SoundRamWords - 1;

// The preset whose work area sets the Freeverb room size, and the two presets with
// the largest work area, which scale it.
const int RoomSizePreset = 3;    // "Studio Medium"
const int LargestAreaPreset = 7; // "Echo" (and "Delay")

// 32-bit hardware arithmetic: the exact result reduced modulo 2^32, formed in 64 bits
// so that a loud send never overflows a signed int.
inline int wrap32(int64_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}
inline int mul32(int a, int b)
{
    return wrap32(static_cast<int64_t>(a) * b);
}
inline int add32(int a, int b)
{
    return wrap32(static_cast<int64_t>(a) + b);
}
inline int sub32(int a, int b)
{
    return wrap32(static_cast<int64_t>(a) - b);
}
// x (*) y of the hardware model: the 32-bit product shifted right by 15.
inline int fmul(int x, int y)
{
    return mul32(x, y) >> 15;
}

inline int nextPosition(int position, int length)
{
    return position + 1 < length ? position + 1 : 0;
}

// Truncation toward zero; a very loud send can make Freeverb's output leave the int
// range, where a plain conversion is undefined, so it saturates there instead.
inline int truncateToInt(float value)
{
    if (value >= 2147483648.0f)
        return INT32_MAX;
    if (value <= -2147483648.0f)
        return INT32_MIN;
    if (value != value)
        return 0;
    return static_cast<int>(value);
}
} // namespace

Reverb::Reverb() : soundBuffer(nullptr), lowestWritten(SoundRamWords), tapsFrom(1), tapsUntil(0)
{
    std::memset(tapOffset, 0, sizeof(tapOffset));
    std::memset(tapDistance, 0, sizeof(tapDistance));
    // Comb-bank delay contents survive setReverb, so they start silent here.
    std::memset(combL, 0, sizeof(combL));
    std::memset(combR, 0, sizeof(combR));
    std::memset(longL, 0, sizeof(longL));
    std::memset(longR, 0, sizeof(longR));
    lowpassL = lowpassR = 0;

    unsigned short zero[RegisterCount];
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
    tapsUntil = -1;
}

void Reverb::setReverb(unsigned short* block)
{
    std::memset(echoRing, 0, sizeof(echoRing));
    echoPosition = 0;

    setTmidity(block);

    const Preset& room = Presets[RoomSizePreset];
    const int largestArea = 0xFFFF - Presets[LargestAreaPreset].start;
    freeverb.setroomsize(static_cast<float>((0xFFFF - room.start) / static_cast<double>(largestArea) + 0.3f));

    setCombBank(block);

    for (int n = 0; n < RegisterCount; ++n)
        R[n] = static_cast<short>(block[n]);
    K1 = 32768 - R[vIIR];
    K2 = static_cast<int>(block[vAPF1]) - 32768;

    for (int n = FirstTap; n <= mRAPF2; ++n)
        tapOffset[n] = R[n];
    tapOffset[LAPF1Feedback] = R[mLAPF1] - R[dAPF1];
    tapOffset[RAPF1Feedback] = R[mRAPF1] - R[dAPF1];
    tapOffset[LAPF2Feedback] = R[mLAPF2] - R[dAPF2];
    tapOffset[RAPF2Feedback] = R[mRAPF2] - R[dAPF2];
    tapsUntil = -1;
}

void Reverb::placeTaps()
{
    tapsFrom = currentAddress;
    tapsUntil = SoundRamLast;
    for (int t = FirstTap; t < TapCount; ++t)
    {
        const int word = workAreaAddress(tapOffset[t]);
        tapDistance[t] = word - currentAddress;
        if (SoundRamLast - tapDistance[t] < tapsUntil)
            tapsUntil = SoundRamLast - tapDistance[t];
    }
}

void Reverb::doReverb(int& left, int& right)
{
    switch (ConfigReverbType)
    {
    case 0:
        left = 0;
        right = 0;
        break;
    case 1:
        doReverbTmidity(left, right);
        break;
    case 2:
        doReverbFreeverb(left, right);
        break;
    case 3:
        doReverbDizivad2(left, right);
        break;
    case 4:
        doReverbBraskTolvin(left, right);
        break;
    case 99:
        doReverbDizivad(left, right);
        break;
    default:
        break;
    }
}

// ---- Hardware model --------------------------------------------------------------

// Taps wrap into the work area [start, 0x3FFFF] however far they reach; a remainder
// gives the same position as repeated wrapping at constant cost (the area may be as
// small as 4 words while an offset reaches 0x40000 words away).
int Reverb::workAreaAddress(int offset) const
{
    const int size = SoundRamWords - startAddress;
    int p = currentAddress + 4 * offset;
    if (p > SoundRamLast || p < startAddress)
    {
        int r = (p - startAddress) % size;
        if (r < 0)
            r += size;
        p = startAddress + r;
    }
    return p;
}

int Reverb::readBuffer(int offset) const
{
    return static_cast<short>(soundBuffer[workAreaAddress(offset)]);
}

void Reverb::forgetWrites()
{
    lowestWritten = SoundRamWords;
}

void Reverb::storeWord(int word, int value)
{
    if (word < lowestWritten)
        lowestWritten = word;
    soundBuffer[word] = static_cast<unsigned short>(saturate16(value));
}

void Reverb::writeBuffer(int offset, int value)
{
    storeWord(workAreaAddress(offset), value);
}

void Reverb::writeTap(int tap, int value)
{
    storeWord(currentAddress + tapDistance[tap], value);
}

// Runs at 22050 Hz: every even call stores the send and repeats the last return;
// every odd call computes a new return from the average of the two sends and
// interpolates between the last return and the new one.
void Reverb::doReverbBraskTolvin(int& left, int& right)
{
    if ((counter & 1) == 0)
    {
        previousSendL = left;
        previousSendR = right;
        left = lastReturnL;
        right = lastReturnR;
        ++counter;
        return;
    }

    keepTaps();
    const int inL = add32(left, previousSendL) >> 1;
    const int inR = add32(right, previousSendR) >> 1;

    const int sameL = add32(fmul(readTap(dLSAME), R[vWALL]), fmul(inL, R[vLIN]));
    const int sameR = add32(fmul(readTap(dRSAME), R[vWALL]), fmul(inR, R[vRIN]));
    const int crossL = add32(fmul(readTap(dRDIFF), R[vWALL]), fmul(inL, R[vLIN]));
    const int crossR = add32(fmul(readTap(dLDIFF), R[vWALL]), fmul(inR, R[vRIN]));

    const int newSameL = add32(fmul(sameL, R[vIIR]), fmul(readTap(mLSAME), K1));
    const int newSameR = add32(fmul(sameR, R[vIIR]), fmul(readTap(mRSAME), K1));
    const int newCrossL = add32(fmul(crossL, R[vIIR]), fmul(readTap(mLDIFF), K1));
    const int newCrossR = add32(fmul(crossR, R[vIIR]), fmul(readTap(mRDIFF), K1));

    // The comb sums reach 2^17, so accL (*) vAPF1 below can pass 32 bits and wraps.
    const int accL = fmul(readTap(mLCOMB1), R[vCOMB1]) + fmul(readTap(mLCOMB2), R[vCOMB2]) +
                     fmul(readTap(mLCOMB3), R[vCOMB3]) + fmul(readTap(mLCOMB4), R[vCOMB4]);
    const int accR = fmul(readTap(mRCOMB1), R[vCOMB1]) + fmul(readTap(mRCOMB2), R[vCOMB2]) +
                     fmul(readTap(mRCOMB3), R[vCOMB3]) + fmul(readTap(mRCOMB4), R[vCOMB4]);

    const int a0 = readTap(LAPF1Feedback);
    const int a1 = readTap(RAPF1Feedback);
    const int b0 = readTap(LAPF2Feedback);
    const int b1 = readTap(RAPF2Feedback);

    writeTap(mLAPF1, accL - fmul(a0, R[vAPF1]));
    writeTap(mRAPF1, accR - fmul(a1, R[vAPF1]));
    writeTap(mLAPF2, fmul(accL, R[vAPF1]) - fmul(a0, K2) - fmul(b0, R[vAPF2]));
    writeTap(mRAPF2, fmul(accR, R[vAPF1]) - fmul(a1, K2) - fmul(b1, R[vAPF2]));

    left = lastReturnL;
    right = lastReturnR;
    lastReturnL = (readTap(mLAPF1) + readTap(mLAPF2)) >> 1;
    lastReturnR = (readTap(mRAPF1) + readTap(mRAPF2)) >> 1;
    left = (left + lastReturnL) >> 1;
    right = (right + lastReturnR) >> 1;

    if (++currentAddress > SoundRamLast)
        currentAddress = startAddress;
    keepTaps();

    // One word on from where they were read: where the next computed sample reads them.
    writeTap(mLSAME, newSameL);
    writeTap(mRSAME, newSameR);
    writeTap(mLDIFF, newCrossL);
    writeTap(mRDIFF, newCrossR);

    ++counter;
}

// ---- Echo ------------------------------------------------------------------------

// 4096 frames (92.9 ms) of feedback at 0.75; each side hears half of its own echo and
// a quarter of the other side's. Nothing is clamped.
void Reverb::doReverbDizivad(int& left, int& right)
{
    const int dL = echoRing[echoPosition];
    const int dR = echoRing[echoPosition + 1];
    const int a = mul32(dL, 192) >> 8;
    const int b = mul32(dR, 192) >> 8;
    echoRing[echoPosition] = add32(a, left);
    echoRing[echoPosition + 1] = add32(b, right);
    echoPosition = (echoPosition + 2) & (EchoRingSize - 1);
    left = add32(a, mul32(dR, 192) >> 9) >> 1;
    right = add32(b, mul32(dL, 192) >> 9) >> 1;
}

// ---- TiMidity-style reverb --------------------------------------------------------

// The delays scale with the sum of registers vAPF1..mRAPF2; the cap keeps every length
// within its buffer (935, 1853, 7783 and 3705 at the cap).
void Reverb::setTmidity(const unsigned short* block)
{
    const int sizeCap = 0x44000;
    int sizeSum = 0;
    for (int n = vAPF1; n <= mRAPF2; ++n)
        sizeSum += block[n];
    if (sizeSum > sizeCap)
        sizeSum = sizeCap;

    tmTa = tmTb = 0;
    tmHighL = tmHighR = 0;
    tmLowL = tmLowR = 0;
    tmOutL = tmOutR = 0;
    for (int& p : tmPosition)
        p = 0;
    std::memset(tmD0L, 0, sizeof(tmD0L));
    std::memset(tmD0R, 0, sizeof(tmD0R));
    std::memset(tmD1L, 0, sizeof(tmD1L));
    std::memset(tmD1R, 0, sizeof(tmD1R));
    std::memset(tmD2L, 0, sizeof(tmD2L));
    std::memset(tmD2R, 0, sizeof(tmD2R));
    std::memset(tmD3L, 0, sizeof(tmD3L));
    std::memset(tmD3R, 0, sizeof(tmD3R));

    const double milliseconds[4] = {REV_VAL0, REV_VAL1, REV_VAL2, REV_VAL3};
    for (int k = 0; k < 4; ++k)
        tmLength[k] = static_cast<int>(milliseconds[k] * 44100 / 1000 * sizeSum / 69632) + 1;
}

// One channel of the TiMidity reverb; ta and tb pass from the left channel to the right.
void Reverb::tmidityChannel(int& sample, int* d0, int* d1, int* d2, int* d3, int& lowpass, int& highpass,
                            int& outputFilter, bool negateLowpass)
{
    int& p0 = tmPosition[0];
    int& p1 = tmPosition[1];
    int& p2 = tmPosition[2];
    int& p3 = tmPosition[3];

    const int t = mul32(sample, REV_INP_LEV__) >> BAI_S;
    lowpass = add32(add32(mul32(REV_LPF_LEV__, lowpass), mul32(REV_LPF_INP__, add32(tmTb, d2[p2]))),
                    mul32(REV_WIDTH__, tmTa)) >>
              BAI_S;
    tmTa = d3[p3];
    const int x = d0[p0];
    d3[p3] = x;
    d0[p0] = negateLowpass ? sub32(0, lowpass) : lowpass;
    const int h = mul32(add32(t, highpass), REV_HPF_LEV__) >> BAI_S;
    highpass = sub32(h, t);
    d2[p2] = mul32(sub32(x, mul32(t, REV_FBK_LEV__) >> BAI_S), REV_NMIX_LEV__) >> BAI_S;
    tmTb = d1[p1];
    d1[p1] = h;
    outputFilter = add32(mul32(REV_EPF_LEV__, outputFilter), mul32(REV_EPF_INP__, tmTa)) >> BAI_S;
    sample = add32(tmTa, outputFilter);
}

void Reverb::doReverbTmidity(int& left, int& right)
{
    tmidityChannel(left, tmD0L, tmD1L, tmD2L, tmD3L, tmLowL, tmHighL, tmOutL, true);
    tmidityChannel(right, tmD0R, tmD1R, tmD2R, tmD3R, tmLowR, tmHighR, tmOutR, false);
    for (int k = 0; k < 4; ++k)
        tmPosition[k] = nextPosition(tmPosition[k], tmLength[k]);
}

// ---- Comb bank -------------------------------------------------------------------

void Reverb::setCombBank(const unsigned short* block)
{
    combInputGain = block[vIIR];
    combInputKeep = 32767 - combInputGain;
    combGainL = ((static_cast<short>(block[vCOMB1]) * static_cast<short>(block[vLIN])) >> 15) * 2 / 3;
    combGainR = ((static_cast<short>(block[vCOMB2]) * static_cast<short>(block[vRIN])) >> 15) * 2 / 3;
    combFeedback = block[vWALL];
    combCrossL = static_cast<short>(block[vCOMB3]);
    combCrossR = static_cast<short>(block[vCOMB4]);

    const int longMax = LongDelaySize - 1;
    longLengthL = block[dAPF1] * 16 > longMax ? longMax : block[dAPF1] * 16;
    longLengthR = block[dAPF2] * 16 > longMax ? longMax : block[dAPF2] * 16;
    longPositionL = longPositionR = 0;

    // A line holds 8192 entries but its length comes from a 16-bit register, one of
    // the ten left-side taps mLSAME, mLCOMB1, ..., mLAPF2: longer lengths are clamped
    // to the line (the standard presets never exceed 8191).
    for (int k = 0; k < CombLineCount; ++k)
    {
        const int length = block[mLSAME + 2 * k];
        combLength[k] = length > CombLineSize ? CombLineSize : length;
        combPosition[k] = 0;
    }
}

void Reverb::doReverbDizivad2(int& left, int& right)
{
    lowpassL = add32(mul32(saturate16(left), combInputGain), mul32(combInputKeep, lowpassL)) >> 15;
    lowpassR = add32(mul32(saturate16(right), combInputGain), mul32(combInputKeep, lowpassR)) >> 15;
    const int xL = mul32(lowpassL, combGainL) >> 15;
    const int xR = mul32(lowpassR, combGainR) >> 15;

    int sumL = 0;
    int sumR = 0;
    for (int k = 0; k < CombLineCount; ++k)
    {
        const int position = combPosition[k];
        int& entryL = combL[k][position];
        int& entryR = combR[k][position];
        if (combLength[k] != 0)
        {
            sumL += entryL;
            sumR += entryR;
        }
        entryL = (saturate16(add32(xL, entryL)) * combFeedback) >> 16;
        entryR = (saturate16(add32(xR, entryR)) * combFeedback) >> 16;
        combPosition[k] = nextPosition(position, combLength[k]);
    }

    longL[longPositionL] = (saturate16(sumL + longL[longPositionL]) * combFeedback) >> 16;
    longR[longPositionR] = (saturate16(sumR + longR[longPositionR]) * combFeedback) >> 16;
    longPositionL = nextPosition(longPositionL, longLengthL);
    longPositionR = nextPosition(longPositionR, longLengthR);

    sumL += (longR[longPositionR] * combCrossL) >> 15;
    sumR += (longL[longPositionL] * combCrossR) >> 15;
    left = saturate16(sumL);
    right = saturate16(sumR);
}

// ---- Freeverb --------------------------------------------------------------------

void Reverb::doReverbFreeverb(int& left, int& right)
{
    float inL = static_cast<float>(left);
    float inR = static_cast<float>(right);
    float outL = 0.0f;
    float outR = 0.0f;
    freeverb.processreplace(&inL, &inR, &outL, &outR, 1, 1);
    left = truncateToInt(outL);
    right = truncateToInt(outR);
}
