#pragma once

#include "reverb/revmodel.h"

// The SPU's reverb unit: turns the mixer's reverb send into a stereo return, one
// output sample per call. ConfigReverbType selects the algorithm at every sample:
//   0 off (return 0)            1 TiMidity-style four-delay reverb (8-bit fixed point)
//   2 Freeverb (revmodel)       3 comb bank driven by the reverb registers
//   4 the hardware model that keeps its delay lines in the work area of sound RAM
//   99 a plain stereo feedback echo
// Any other value passes the send through unchanged. Every algorithm keeps its own
// state, so switching between them resumes each where it was left.
//
// The unit is given the SPU's image of the 32 reverb registers (0x1F801DC0..DFE)
// after every write to one of them, and the work-area start (register 0x1F801DA2,
// 8-byte units) through setStartAddress. Work-area addresses are in 16-bit words.
//
// Arithmetic is 32-bit as on the hardware: where a loud send makes a product or sum
// pass the 32-bit range it wraps in two's complement (computed without overflow).
// Runs inside the critical section; allocates nothing.
class Reverb
{
public:
    // ConfigReverbType: written only by Config::updateConfigValue (at init, at open
    // and on every change in the real-time window), read at every sample, so a
    // change takes effect at the next one.
    static int ConfigReverbType;

    // The reverb registers by their hardware names, register n at 0x1F801DC0 + 2n:
    // v a gain (signed 1.15), m and d a tap address (8-byte units from the current
    // address), dAPF1 and dAPF2 the all-pass offsets; L and R the side. The software
    // algorithms read the same registers for roles of their own (setTmidity,
    // setCombBank).
    enum Register
    {
        dAPF1 = 0, // all-pass 1 offset
        dAPF2,     // all-pass 2 offset
        vIIR,      // reflection filter coefficient
        vCOMB1,
        vCOMB2,
        vCOMB3,
        vCOMB4,
        vWALL, // reflection feedback gain
        vAPF1,
        vAPF2,
        mLSAME, // same-side reflection, written
        mRSAME,
        mLCOMB1,
        mRCOMB1,
        mLCOMB2,
        mRCOMB2,
        dLSAME, // same-side reflection source, read
        dRSAME,
        mLDIFF, // cross reflection, written
        mRDIFF,
        mLCOMB3,
        mRCOMB3,
        mLCOMB4,
        mRCOMB4,
        dLDIFF, // cross reflection source of the right side, read
        dRDIFF, // cross reflection source of the left side, read
        mLAPF1, // all-pass 1, written; an output tap
        mRAPF1,
        mLAPF2, // all-pass 2, written; an output tap
        mRAPF2,
        vLIN, // input volume
        vRIN,
        RegisterCount
    };

    // TiMidity constants and their 8-bit fixed-point twins (value x BAI, truncated).
    static constexpr double BAI = 256.0;
    static constexpr int BAI_S = 8;
    static constexpr double REV_VAL0 = 5.3;
    static constexpr double REV_VAL1 = 10.5;
    static constexpr double REV_VAL2 = 44.12;
    static constexpr double REV_VAL3 = 21.0;
    static constexpr double REV_INP_LEV = 0.55;
    static constexpr double REV_FBK_LEV = 0.9;
    static constexpr double REV_NMIX_LEV = 0.85;
    static constexpr double REV_CMIX_LEV = 0.9;
    static constexpr double REV_MONO_LEV = 0.7;
    static constexpr double REV_HPF_LEV = 0.7;
    static constexpr double REV_LPF_LEV = 0.45;
    static constexpr double REV_LPF_INP = 0.55;
    static constexpr double REV_EPF_LEV = 0.4;
    static constexpr double REV_EPF_INP = 0.5;
    static constexpr double REV_WIDTH = 0.125;
    static constexpr int REV_VAL0__ = static_cast<int>(REV_VAL0 * BAI);
    static constexpr int REV_VAL1__ = static_cast<int>(REV_VAL1 * BAI);
    static constexpr int REV_VAL2__ = static_cast<int>(REV_VAL2 * BAI);
    static constexpr int REV_VAL3__ = static_cast<int>(REV_VAL3 * BAI);
    static constexpr int REV_INP_LEV__ = static_cast<int>(REV_INP_LEV * BAI);
    static constexpr int REV_FBK_LEV__ = static_cast<int>(REV_FBK_LEV * BAI);
    static constexpr int REV_NMIX_LEV__ = static_cast<int>(REV_NMIX_LEV * BAI);
    static constexpr int REV_CMIX_LEV__ = static_cast<int>(REV_CMIX_LEV * BAI);
    static constexpr int REV_MONO_LEV__ = static_cast<int>(REV_MONO_LEV * BAI);
    static constexpr int REV_HPF_LEV__ = static_cast<int>(REV_HPF_LEV * BAI);
    static constexpr int REV_LPF_LEV__ = static_cast<int>(REV_LPF_LEV * BAI);
    static constexpr int REV_LPF_INP__ = static_cast<int>(REV_LPF_INP * BAI);
    static constexpr int REV_EPF_LEV__ = static_cast<int>(REV_EPF_LEV * BAI);
    static constexpr int REV_EPF_INP__ = static_cast<int>(REV_EPF_INP * BAI);
    static constexpr int REV_WIDTH__ = static_cast<int>(REV_WIDTH * BAI);

    // The ten standard presets: work-area start (8-byte units) and the registers.
    struct Preset
    {
        const char* name;
        unsigned short start;
        unsigned short registers[RegisterCount];
    };
    static constexpr int PresetCount = 10;
    static const Preset Presets[PresetCount];

    // Capacities of the TiMidity delays D0..D3 and of the comb-bank lines.
    static constexpr int TmCapacity0 = 1376;
    static constexpr int TmCapacity1 = 2736;
    static constexpr int TmCapacity2 = 11472;
    static constexpr int TmCapacity3 = 5472;
    static constexpr int EchoRingSize = 8192;
    static constexpr int CombLineCount = 10;
    static constexpr int CombLineSize = 8192;
    static constexpr int LongDelaySize = 16384;

    Reverb();
    virtual ~Reverb();

    void setSoundBuffer(unsigned short* ram) { soundBuffer = ram; }
    void setStartAddress(unsigned short value);
    void setReverb(unsigned short* block);
    void doReverb(int& left, int& right);

    void doReverbBraskTolvin(int& left, int& right);
    void doReverbDizivad(int& left, int& right);
    void doReverbTmidity(int& left, int& right);
    void doReverbDizivad2(int& left, int& right);
    void doReverbFreeverb(int& left, int& right);

    // Work-area word at current address + 4 x offset (offset in 8-byte units).
    int readBuffer(int offset) const;
    void writeBuffer(int offset, int value);
    // The lowest sound RAM word this reverb has written since forgetWrites (0x40000:
    // none). The voices' decoder trusts no block at or above it to stay as it was
    // (VagBlock), and forgets it only together with every block it kept.
    int getLowestWritten() const { return lowestWritten; }
    void forgetWrites();

    // Read-only views for tests.
    int getStartAddress() const { return startAddress; }
    int getCurrentAddress() const { return currentAddress; }
    int getHalfRateCounter() const { return counter; }
    int getRegister(int n) const { return R[n]; }
    int getTmLength(int delay) const { return tmLength[delay]; }
    int getCombLineLength(int line) const { return combLength[line]; }
    int getLongDelayLengthL() const { return longLengthL; }
    int getLongDelayLengthR() const { return longLengthR; }
    int getCombGainL() const { return combGainL; }
    int getCombGainR() const { return combGainR; }
    const revmodel& getFreeverb() const { return freeverb; }
    revmodel& getFreeverb() { return freeverb; }

private:
    Reverb(const Reverb&) = delete;
    Reverb& operator=(const Reverb&) = delete;

    int workAreaAddress(int offset) const;
    // Every write into the work area: saturated, and remembered in lowestWritten.
    void storeWord(int word, int value);

    // The hardware model's taps: the work-area offsets it reads and writes (8-byte
    // units), the tap registers mLSAME..mRAPF2 by their register and the four
    // all-pass feedback taps after them. Each tap's word is kept as its distance
    // from currentAddress, which holds while currentAddress stays within
    // [tapsFrom, tapsUntil] (no tap crosses the work area's end in between);
    // placeTaps finds the words anew with workAreaAddress when it leaves that
    // range, and after a register or start-address write.
    enum Tap
    {
        FirstTap = mLSAME,
        LAPF1Feedback = mRAPF2 + 1, // mLAPF1 - dAPF1
        RAPF1Feedback,              // mRAPF1 - dAPF1
        LAPF2Feedback,              // mLAPF2 - dAPF2
        RAPF2Feedback,              // mRAPF2 - dAPF2
        TapCount
    };
    void placeTaps();
    void keepTaps()
    {
        if (currentAddress < tapsFrom || currentAddress > tapsUntil)
            placeTaps();
    }
    int readTap(int tap) const { return static_cast<short>(soundBuffer[currentAddress + tapDistance[tap]]); }
    void writeTap(int tap, int value);
    void setTmidity(const unsigned short* block);
    void setCombBank(const unsigned short* block);
    void tmidityChannel(int& sample, int* d0, int* d1, int* d2, int* d3, int& lowpass, int& highpass,
                        int& outputFilter, bool negateLowpass);

    // Hardware model parameters: the registers sign-extended, and the two derived
    // coefficients K1 = 32768 - vIIR and K2 = (vAPF1 as unsigned) - 32768.
    int R[RegisterCount];
    int K1;
    int K2;

    // Work area: words from startAddress to the end of sound RAM.
    int startAddress;
    int currentAddress;
    unsigned short* soundBuffer;
    int lowestWritten;
    int tapOffset[TapCount];
    int tapDistance[TapCount];
    int tapsFrom;
    int tapsUntil;

    // Half-rate state of the hardware model.
    int counter;
    int previousSendL;
    int previousSendR;
    int lastReturnL;
    int lastReturnR;

    // Echo: 4096 stereo frames, left at even indexes.
    int echoRing[EchoRingSize];
    int echoPosition;

    // TiMidity: four delays with a left and a right buffer each, shared ta/tb, and
    // per channel high-pass, low-pass and output filter states.
    int tmD0L[TmCapacity0], tmD0R[TmCapacity0];
    int tmD1L[TmCapacity1], tmD1R[TmCapacity1];
    int tmD2L[TmCapacity2], tmD2R[TmCapacity2];
    int tmD3L[TmCapacity3], tmD3R[TmCapacity3];
    int tmLength[4];
    int tmPosition[4];
    int tmTa, tmTb;
    int tmHighL, tmHighR;
    int tmLowL, tmLowR;
    int tmOutL, tmOutR;

    // Comb bank: ten lines per side, a long cross-coupled delay per side, input
    // low-pass states and the gains taken from the registers.
    int combL[CombLineCount][CombLineSize];
    int combR[CombLineCount][CombLineSize];
    int combLength[CombLineCount];
    int combPosition[CombLineCount];
    int longL[LongDelaySize];
    int longR[LongDelaySize];
    int longLengthL, longLengthR;
    int longPositionL, longPositionR;
    int lowpassL, lowpassR;
    int combInputGain; // g: vIIR unsigned
    int combInputKeep; // g': 32767 - g
    int combGainL, combGainR;
    int combFeedback; // f: vWALL unsigned, applied as / 65536
    int combCrossL, combCrossR;

    revmodel freeverb;
};
