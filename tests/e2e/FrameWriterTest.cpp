// FrameWriter's bound: a WAV header counts at most 1 073 741 814 frames (its RIFF
// size, 36 + 4 bytes a frame, is 32-bit), and a write past that is refused whole
// so that the header stays true for what the file holds.

#include "HostFixture.h"
#include "spuhost/FrameWriter.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
class FrameWriterTest : public HostTest
{
};

TEST_F(FrameWriterTest, HeaderCountsWhatWasWritten)
{
    FrameWriter wav;
    ASSERT_TRUE(wav.open(file("out.wav"), FrameWriter::Wav));
    const std::vector<short> frames = {1, -1, 2, -2, 3, -3};
    EXPECT_TRUE(wav.write(frames.data(), 3));
    EXPECT_TRUE(wav.close());
    const std::vector<unsigned char> bytes = readFileBytes(file("out.wav"));
    ASSERT_EQ(44u + 12, bytes.size());
    EXPECT_EQ(36u + 12, le32(bytes, 4));
    EXPECT_EQ(12u, le32(bytes, 40));
    EXPECT_EQ(0xFFFF, le16(bytes, 46));
}

TEST_F(FrameWriterTest, AWriteThatWouldPassTheWavLimitIsRefusedWhole)
{
    EXPECT_EQ(1073741814u, FrameWriter::MaxWavFrames);
    // Two frames of samples: the refusal must come before any of the count is read.
    const std::vector<short> frames = {7, 8, 9, 10};
    {
        FrameWriter wav;
        ASSERT_TRUE(wav.open(file("first.wav"), FrameWriter::Wav));
        EXPECT_FALSE(wav.write(frames.data(), FrameWriter::MaxWavFrames + 1));
        EXPECT_FALSE(wav.close());
        EXPECT_NE(std::string::npos, wav.error().find("at most 1073741814 frames")) << wav.error();
        const std::vector<unsigned char> bytes = readFileBytes(file("first.wav"));
        ASSERT_EQ(44u, bytes.size());
        EXPECT_EQ(36u, le32(bytes, 4));
        EXPECT_EQ(0u, le32(bytes, 40));
    }
    {
        // Two frames in, then one frame more than is left.
        FrameWriter wav;
        ASSERT_TRUE(wav.open(file("later.wav"), FrameWriter::Wav));
        EXPECT_TRUE(wav.write(frames.data(), 2));
        EXPECT_FALSE(wav.write(frames.data(), FrameWriter::MaxWavFrames - 1));
        EXPECT_FALSE(wav.write(frames.data(), 1)) << "a failed writer stays failed";
        EXPECT_FALSE(wav.close());
        const std::vector<unsigned char> bytes = readFileBytes(file("later.wav"));
        ASSERT_EQ(44u + 8, bytes.size());
        EXPECT_EQ(36u + 8, le32(bytes, 4));
        EXPECT_EQ(8u, le32(bytes, 40));
        EXPECT_EQ(10u, le16(bytes, 50));
    }
}

TEST_F(FrameWriterTest, ReopeningStartsAfresh)
{
    const std::vector<short> frames = {1, 2};
    FrameWriter wav;
    ASSERT_TRUE(wav.open(file("a.wav"), FrameWriter::Wav));
    EXPECT_FALSE(wav.write(frames.data(), FrameWriter::MaxWavFrames + 1));
    EXPECT_FALSE(wav.close());
    ASSERT_TRUE(wav.open(file("b.wav"), FrameWriter::Wav));
    EXPECT_TRUE(wav.write(frames.data(), 1));
    EXPECT_TRUE(wav.close());
    EXPECT_EQ("", wav.error());
    EXPECT_EQ(4u, le32(readFileBytes(file("b.wav")), 40));
}
} // namespace
