#include "SpuTestFixture.h"

#include <string>

namespace
{
const unsigned long KeyOn = 0x1F801D88;
const unsigned long KeyOnHigh = 0x1F801D8A;
const unsigned long KeyOff = 0x1F801D8C;
const unsigned long PitchMod = 0x1F801D90;
const unsigned long NoiseMode = 0x1F801D94;
const unsigned long ReverbMode = 0x1F801D98;
const unsigned long EndFlags = 0x1F801D9C;
const unsigned long EndFlagsHigh = 0x1F801D9E;
const unsigned long IRQAddress = 0x1F801DA4;
const unsigned long TransferAddress = 0x1F801DA6;
const unsigned long Control = 0x1F801DAA;
const unsigned long Status = 0x1F801DAE;

unsigned long voiceRegister(int voice, int reg)
{
    return 0x1F801C00 + 16 * voice + reg;
}
} // namespace

using RegisterWindowTest = SpuTest;

TEST_F(RegisterWindowTest, AfterResetEveryRegisterReadsZeroButTheLiveEndFlags)
{
    // Dirty every register first so the reset has something to undo.
    for (unsigned long a = 0x1F801C00; a < 0x1F801E00; a += 2)
        if (a != Control && a != 0x1F801DA8)
            write(a, 0x1234);
    theSPU.init();
    for (unsigned long a = 0x1F801C00; a < 0x1F801E00; a += 2)
    {
        unsigned short expected = 0;
        if (a == EndFlags)
            expected = 0xFFFF; // every voice reports its end flag after a reset
        else if (a == EndFlagsHigh)
            expected = 0x00FF;
        EXPECT_EQ(expected, read(a)) << std::hex << a;
    }
    EXPECT_EQ(16, Voice::NoiseClock);
    EXPECT_EQ(0, theSPU.getTransferAddress());
}

TEST_F(RegisterWindowTest, PlainRegistersReadBackTheirImage)
{
    write(voiceRegister(5, 0x0), 0x3FFF);
    write(voiceRegister(5, 0x6), 0x1234);
    write(0x1F801D80, 0xBEEF);
    write(0x1F801DAC, 0x0004);
    write(0x1F801DB6, 0x5555);
    EXPECT_EQ(0x3FFF, read(voiceRegister(5, 0x0)));
    EXPECT_EQ(0x1234, read(voiceRegister(5, 0x6)));
    EXPECT_EQ(0xBEEF, read(0x1F801D80));
    EXPECT_EQ(0x0004, read(0x1F801DAC));
    EXPECT_EQ(0x5555, read(0x1F801DB6));
    EXPECT_EQ(0x1234, theSPU.getVoice(5).getStartAddress());
}

TEST_F(RegisterWindowTest, PitchAbove14BitsIsReportedAndKept)
{
    testing::internal::CaptureStdout();
    write(voiceRegister(2, 0x4), 0x4000);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ("Voice::setPitch over 14bits Pitch=4000\n", printed);
    EXPECT_EQ(0x4000, read(voiceRegister(2, 0x4)));
    EXPECT_EQ(0x4000, theSPU.getVoice(2).getPitch());
}

TEST_F(RegisterWindowTest, FineTuningScalesThePitchButNotItsReadBack)
{
    theConfig.Finetune = 10;
    theConfig.updateConfigValue();
    write(voiceRegister(0, 0x4), 0x1000);
    EXPECT_EQ(0x1000, read(voiceRegister(0, 0x4)));
    EXPECT_EQ((0x1000 * 34715) >> 15, theSPU.getVoice(0).getPitch());
}

TEST_F(RegisterWindowTest, KeyOnActsOnTheSetBitsOnly)
{
    write(KeyOn, 0x0003);
    EXPECT_EQ(0x0003, read(KeyOn));
    EXPECT_EQ(Envelope::Attack, theSPU.getVoice(0).getEnvelope().getPhase());
    EXPECT_EQ(Envelope::Attack, theSPU.getVoice(1).getEnvelope().getPhase());
    for (int v = 2; v < 24; ++v)
        EXPECT_EQ(Envelope::Off, theSPU.getVoice(v).getEnvelope().getPhase()) << v;

    write(KeyOnHigh, 0xFF01); // only bits 0-7 exist: voice 16
    EXPECT_EQ(Envelope::Attack, theSPU.getVoice(16).getEnvelope().getPhase());
    EXPECT_EQ(Envelope::Off, theSPU.getVoice(17).getEnvelope().getPhase());

    write(KeyOff, 0x0002);
    EXPECT_EQ(Envelope::Attack, theSPU.getVoice(0).getEnvelope().getPhase());
    EXPECT_EQ(Envelope::Release, theSPU.getVoice(1).getEnvelope().getPhase());
}

TEST_F(RegisterWindowTest, ModeRegistersSetAndClearEveryVoiceOfTheirRange)
{
    write(PitchMod, 0xFFFF);
    write(PitchMod, 0x0001);
    EXPECT_EQ(1, theSPU.getVoice(0).getFMMode());
    for (int v = 1; v < 16; ++v)
        EXPECT_EQ(0, theSPU.getVoice(v).getFMMode()) << v;

    write(NoiseMode + 2, 0x0080);
    EXPECT_EQ(1, theSPU.getVoice(23).getNoiseMode());
    EXPECT_EQ(0, theSPU.getVoice(22).getNoiseMode());

    write(ReverbMode, 0x8000);
    EXPECT_EQ(1, theSPU.getVoice(15).getReverbMode());
    EXPECT_EQ(0, theSPU.getVoice(16).getReverbMode());
}

TEST_F(RegisterWindowTest, EndFlagsReadTheVoicesAndStopTheirEnvelopes)
{
    write(KeyOn + 2, 0x00FF);
    EXPECT_EQ(0x0000, read(EndFlagsHigh));
    write(EndFlagsHigh, 0xFFFF);
    EXPECT_EQ(0x00FF, read(EndFlagsHigh));
    EXPECT_EQ(Envelope::Off, theSPU.getVoice(16).getEnvelope().getPhase());

    write(EndFlags, 0x0000);
    EXPECT_EQ(0x0000, read(EndFlags));
    write(EndFlags, 0x8001);
    EXPECT_EQ(0x8001, read(EndFlags));
}

TEST_F(RegisterWindowTest, LiveEnvelopeAndRepeatAddressAreRead)
{
    write(voiceRegister(3, 0xC), 0x1234);
    EXPECT_EQ(0x1234, read(voiceRegister(3, 0xC)));
    write(voiceRegister(3, 0xE), 0x0042);
    EXPECT_EQ(0x0042, read(voiceRegister(3, 0xE)));
}

TEST_F(RegisterWindowTest, StatusShowsTransferModeStoredBitsAndIRQFlag)
{
    write(Status, 0xFFFF);
    write(Control, 0x0020);
    EXPECT_EQ(0xF800 + 0x02A0, read(Status));

    // Raise the IRQ flag: interrupts on, transfer address on the IRQ address.
    write(IRQAddress, 0x0100);
    write(Control, 0x0060);
    write(TransferAddress, 0x0100);
    EXPECT_EQ(1, theSPU.getSpuIRQCount());
    EXPECT_EQ(0xF800 + 0x02A0 + 0x0040, read(Status));

    write(Control, 0x0010);
    EXPECT_EQ(0xF800 + 0x0010, read(Status));
    write(Control, 0x0030);
    EXPECT_EQ(0xF800 + 0x01B0, read(Status));
}

// Console sound drivers spin after a control write until the low six bits agree.
TEST_F(RegisterWindowTest, StatusMirrorsControlBitsZeroToFive)
{
    for (unsigned short control : {0x3F, 0x15, 0x2A, 0x01, 0x0F, 0x30, 0x00, 0xC03F})
    {
        write(Control, control);
        EXPECT_EQ(control & 0x3F, read(Status) & 0x3F) << "control " << std::hex << control;
    }
    write(Control, 0x0025);
    EXPECT_EQ(0x02A0 + 0x0005, read(Status) & 0x07FF);
}

TEST_F(RegisterWindowTest, ControlWithBit6ClearAcknowledgesTheInterrupt)
{
    write(IRQAddress, 0x0010);
    write(Control, 0x0040);
    write(TransferAddress, 0x0010);
    theSPU.getSpuIRQCount();
    ASSERT_EQ(1, theSPU.getIRQFlag());
    write(Control, 0x0040); // unchanged, bit 6 still set: flag stays
    EXPECT_EQ(1, theSPU.getIRQFlag());
    write(Control, 0x0000);
    EXPECT_EQ(0, theSPU.getIRQFlag());
    EXPECT_EQ(0x0000, read(Status) & 0x0040);
}

TEST_F(RegisterWindowTest, ControlDecodesNoiseClockAndEnables)
{
    write(Control, 0x3F00 | 0x0080 | 0x0004);
    EXPECT_EQ((3 + 4) << (15 + 2), Voice::NoiseClock);
    EXPECT_EQ(1, theSPU.getMixer().getReverbEnabled());
    EXPECT_EQ(1, theSPU.getStream().getCDReverbEnabled());
    EXPECT_EQ(0x3F84, read(Control));
    write(Control, 0x0000);
    EXPECT_EQ(16, Voice::NoiseClock);
    EXPECT_EQ(0, theSPU.getMixer().getReverbEnabled());
}

TEST_F(RegisterWindowTest, ReverbRegistersReachTheReverbUnitAtOnce)
{
    write(0x1F801DC4, 0x8000);
    EXPECT_EQ(-32768, theSPU.getMixer().getReverb().getRegister(2));
    write(0x1F801DFE, 0x7FFF);
    EXPECT_EQ(32767, theSPU.getMixer().getReverb().getRegister(31));
    EXPECT_EQ(-32768, theSPU.getMixer().getReverb().getRegister(2));
    write(0x1F801DA2, 0xFFFE);
    EXPECT_EQ(0xFFFE * 4, theSPU.getMixer().getReverb().getStartAddress());
}

TEST_F(RegisterWindowTest, VolumeRegistersReachTheMixerAndStream)
{
    write(0x1F801D84, 0xC000);
    EXPECT_EQ(0x4000, theSPU.getMixer().getReverbVolumeL());
    write(0x1F801D86, 0x7FFF);
    EXPECT_EQ(0x7FFF, theSPU.getMixer().getReverbVolumeR());
    write(0x1F801DB0, 0x8000);
    EXPECT_EQ(-32768, theSPU.getStream().getVolumeL());
    write(0x1F801DB2, 0x7FFF);
    EXPECT_EQ(32767, theSPU.getStream().getVolumeR());
}

TEST_F(RegisterWindowTest, OddAddressWritesOnlyTheImageOfAVoiceRegister)
{
    write(voiceRegister(1, 0x6) + 1, 0x0777);
    EXPECT_EQ(0x0777, read(voiceRegister(1, 0x6)));
    EXPECT_EQ(0, theSPU.getVoice(1).getStartAddress());
}

TEST_F(RegisterWindowTest, OddAddressActsOnTheGlobalRegisterBelowIt)
{
    write(KeyOn + 1, 0x0004);
    EXPECT_EQ(Envelope::Attack, theSPU.getVoice(2).getEnvelope().getPhase());
    EXPECT_EQ(0x0004, read(KeyOn));
    EXPECT_EQ(0x0004, read(KeyOn + 1));
}

TEST_F(RegisterWindowTest, AddressesOutsideTheWindowReachNothing)
{
    const unsigned long outside[] = {0,          0x1F801BFE, 0x1F801E00, 0x1F800C00,
                                     0x1F802D88, 0xFFFFFFFF, 0x00000D88};
    for (unsigned long a : outside)
    {
        write(a, 0xFFFF);
        EXPECT_EQ(0, read(a)) << std::hex << a;
    }
    for (int i = 0; i < SPU::RegisterCount; ++i)
        EXPECT_EQ(0, theSPU.getSPURegister()[i]) << i;
    EXPECT_EQ(Envelope::Off, theSPU.getVoice(0).getEnvelope().getPhase());
    // The CPU's segment mirrors of the window are the same registers.
    write(0xBF801D88, 0x0001);
    EXPECT_EQ(0x0001, read(KeyOn));
}

TEST_F(RegisterWindowTest, RestoreDropsTransferDataAndNeverFlushes)
{
    write(TransferAddress, 0x0010);
    write(0x1F801DA8, 0xAAAA);
    theSPU.restoreRegister(0x1F801DA8, 0xBBBB);
    EXPECT_EQ(1, theSPU.getXferBufferCount());
    theSPU.restoreRegister(Control, 0x0010);
    EXPECT_EQ(1, theSPU.getXferBufferCount());
    EXPECT_EQ(0, ramWord(0x80));
    write(Control, 0x0010);
    EXPECT_EQ(0, theSPU.getXferBufferCount());
    EXPECT_EQ(0xAAAA, ramWord(0x80));
}
