#pragma once

// The SPU's reverb unit: turns the mixer's reverb send into a stereo return, one
// output sample per call. ConfigReverbType selects the algorithm at every sample:
// 0 off (return 0), 4 the register-driven hardware model that keeps its delay lines
// in the work area at the top of sound RAM; 1, 2, 3 and 99 are software reverbs.
// Any other value passes the send through unchanged.
//
// The unit is given the SPU's image of the 32 reverb registers (0x1F801DC0..DFE)
// after every write to one of them, and the work-area start (register 0x1F801DA2,
// 8-byte units) through setStartAddress. Work-area addresses are in 16-bit words.
class Reverb
{
public:
    static int ConfigReverbType;

    Reverb();
    virtual ~Reverb();

    void setSoundBuffer(unsigned short* ram) { soundBuffer = ram; }
    void setStartAddress(unsigned short value);
    void setReverb(unsigned short* block);
    void doReverb(int& left, int& right);

    // Read-only views for tests.
    int getStartAddress() const { return startAddress; }
    int getCurrentAddress() const { return currentAddress; }
    int getRegister(int n) const { return R[n]; }

private:
    Reverb(const Reverb&) = delete;
    Reverb& operator=(const Reverb&) = delete;

    // Hardware model parameters: the 32 registers sign-extended, and the two derived
    // coefficients K1 = 32768 - R2 and K2 = (R8 as unsigned) - 32768.
    int R[32];
    int K1;
    int K2;

    // Work area: words from startAddress to the end of sound RAM.
    int startAddress;
    int currentAddress;
    unsigned short* soundBuffer;

    // Half-rate state of the hardware model.
    int counter;
    int previousSendL;
    int previousSendR;
    int lastReturnL;
    int lastReturnR;
};
