#include "SpuTestFixture.h"

#include <vector>

namespace
{
const unsigned long IRQAddress = 0x1F801DA4;
const unsigned long TransferAddress = 0x1F801DA6;
const unsigned long TransferData = 0x1F801DA8;
const unsigned long Control = 0x1F801DAA;
const unsigned long Status = 0x1F801DAE;
} // namespace

using TransferTest = SpuTest;

TEST_F(TransferTest, SingleWritesFillFromTheTransferAddress)
{
    write(TransferAddress, 0x0FFF);
    EXPECT_EQ(0x7FF8, theSPU.getTransferAddress());
    for (unsigned short v = 1; v <= 4; ++v)
        theSPU.writeDMA(v);
    EXPECT_EQ(0x8000, theSPU.getTransferAddress());
    EXPECT_EQ(1, ramWord(0x7FF8));
    EXPECT_EQ(4, ramWord(0x7FFE));
    EXPECT_EQ(0x0FFF, read(TransferAddress)); // the register keeps the value as written
}

TEST_F(TransferTest, TheAddressWrapsAtTheEndOfSoundRam)
{
    write(TransferAddress, 0xFFFF);
    theSPU.writeDMA(0x1111);
    theSPU.writeDMA(0x2222);
    theSPU.writeDMA(0x3333);
    theSPU.writeDMA(0x4444);
    theSPU.writeDMA(0x5555);
    EXPECT_EQ(0x4444, ramWord(0x7FFFE));
    EXPECT_EQ(0x5555, ramWord(0));
    EXPECT_EQ(2, theSPU.getTransferAddress());

    std::vector<unsigned short> words(3);
    write(TransferAddress, 0xFFFF);
    theSPU.readDMA();
    theSPU.readDMA();
    theSPU.readDMA();
    theSPU.readDMAMemory(words.data(), 3);
    EXPECT_EQ(0x4444, words[0]);
    EXPECT_EQ(0x5555, words[1]);
    EXPECT_EQ(4, theSPU.getTransferAddress());
}

TEST_F(TransferTest, BlockTransfersClearTheTransferMode)
{
    write(Control, 0x0020);
    const unsigned short data[2] = {0x1234, 0x5678};
    theSPU.writeDMAMemory(data, 2);
    EXPECT_EQ(0x0000, read(Control));
    EXPECT_EQ(0x0000, read(Status));
    EXPECT_EQ(0x0020, theSPU.getSPURegister()[(0xDAA - 0xC00) / 2]); // the image keeps the CPU's value

    write(Control, 0x00A0);
    unsigned short out[2];
    theSPU.readDMAMemory(out, 0); // no step, the mode is still cleared
    EXPECT_EQ(0x0080, read(Control));
}

TEST_F(TransferTest, NullBlockTransfersDoNothing)
{
    write(Control, 0x0020);
    write(TransferAddress, 0x0010);
    theSPU.writeDMAMemory(nullptr, 16);
    theSPU.readDMAMemory(nullptr, 16);
    EXPECT_EQ(0x80, theSPU.getTransferAddress());
    EXPECT_EQ(0x0020, read(Control));
}

TEST_F(TransferTest, TheDataPortBuffersThirtyTwoWordsUntilManualWrite)
{
    write(TransferAddress, 0x0100);
    for (int i = 0; i < 33; ++i)
        write(TransferData, static_cast<unsigned short>(0x100 + i));
    EXPECT_EQ(32, theSPU.getXferBufferCount());
    EXPECT_EQ(0, ramWord(0x800));
    write(Control, 0x0010);
    EXPECT_EQ(0, theSPU.getXferBufferCount());
    EXPECT_EQ(0x800 + 64, theSPU.getTransferAddress());
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(0x100 + i, ramWord(0x800 + 2 * i)) << i;
    EXPECT_EQ(0, ramWord(0x800 + 64));
}

TEST_F(TransferTest, WritesInvalidateTheDecodedBlockTheyTouch)
{
    VagBlock::CacheBlocks[0x40].valid = 1;
    VagBlock::CacheBlocks[0x41].valid = 1;
    write(TransferAddress, 0x0081); // byte 0x408: the second half of block 0x40
    theSPU.writeDMA(0);
    EXPECT_EQ(0, VagBlock::CacheBlocks[0x40].valid);
    EXPECT_EQ(1, VagBlock::CacheBlocks[0x41].valid);
    theSPU.readDMA(); // reads leave the cache alone
    EXPECT_EQ(1, VagBlock::CacheBlocks[0x41].valid);
    VagBlock::CacheBlocks[0x41].valid = 0;
}

TEST_F(TransferTest, ABlockWritePassingTheIRQAddressHitsOnce)
{
    write(IRQAddress, 0x0100); // byte 0x800
    write(Control, 0x0040);
    std::vector<unsigned short> data(0x400, 0x1111);
    write(TransferAddress, 0x0000);
    theSPU.writeDMAMemory(data.data(), static_cast<int>(data.size()));
    EXPECT_EQ(1, theSPU.getTransferIRQCount());
    EXPECT_EQ(1, theSPU.getSpuIRQCount());
    EXPECT_EQ(1, theSPU.getIRQFlag());

    // While the flag is raised further hits are not counted.
    write(TransferAddress, 0x0000);
    theSPU.writeDMAMemory(data.data(), static_cast<int>(data.size()));
    EXPECT_EQ(0, theSPU.getTransferIRQCount());

    // Acknowledged and re-enabled, the next pass hits again. (Re-enabling checks
    // at once: the transfer address still points at the IRQ address.)
    write(Control, 0x0000);
    write(TransferAddress, 0x0000);
    write(Control, 0x0040);
    EXPECT_EQ(0, theSPU.getTransferIRQCount());
    theSPU.writeDMAMemory(data.data(), static_cast<int>(data.size()));
    EXPECT_EQ(1, theSPU.getTransferIRQCount());
}

TEST_F(TransferTest, TheDataPortFlushChecksTheIRQAddressToo)
{
    write(IRQAddress, 0x0001);
    write(Control, 0x0040);
    write(TransferAddress, 0x0000);
    for (int i = 0; i < 8; ++i)
        write(TransferData, 0x2222);
    write(Control, 0x0050);
    EXPECT_EQ(1, theSPU.getTransferIRQCount());
}

TEST_F(TransferTest, WritingTheTransferAddressOntoTheIRQAddressHitsAtOnce)
{
    write(IRQAddress, 0x0200);
    write(Control, 0x0040);
    EXPECT_EQ(0, theSPU.getTransferIRQCount());
    write(TransferAddress, 0x0200);
    EXPECT_EQ(1, theSPU.getTransferIRQCount());
}

TEST_F(TransferTest, ResetRaisesNoInterrupt)
{
    write(IRQAddress, 0x0000);
    write(Control, 0x0040);
    theSPU.init(); // replays the address registers while interrupts were on
    EXPECT_EQ(0, theSPU.getSpuIRQCount());
    EXPECT_EQ(0, theSPU.getIRQFlag());
}

TEST_F(TransferTest, AlignmentHackRealignsTheRegisterImage)
{
    write(Control, 0x0020);
    write(TransferAddress, 0x0010);
    theSPU.writeDMA(1);
    EXPECT_FALSE(theSPU.ChkXferAlignment()); // 0x82 is not a multiple of 8
    for (int i = 0; i < 3; ++i)
        theSPU.writeDMA(1);
    EXPECT_TRUE(theSPU.ChkXferAlignment());
    theSPU.XferAlignmentHack();
    EXPECT_EQ(0x0011, read(TransferAddress));
    EXPECT_EQ(0x88, theSPU.getTransferAddress());
    EXPECT_EQ(0x0000, read(Control));
    EXPECT_EQ(0x0000, theSPU.getSPURegister()[(0xDAA - 0xC00) / 2]);

    write(TransferData, 5);
    EXPECT_FALSE(theSPU.ChkXferAlignment()); // a buffered word is pending
}
