// The block renderer against the frame renderer: random register traffic is played
// once a frame at a time (each frame followed by the interrupt collection, as the
// output engine rendered before blocks), checked against the model on the way, and
// recorded; the recording is then replayed through the output engine's block
// renderer with every render call cut into pieces of random length. Every frame,
// every voice's walk and envelope, the noise generator, the reverb's position and
// the interrupt deliveries (and the frame each came after) must be the same.

#include "SpuUnderTest.h"
#include "synth/VoiceKernel.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>
#include <vector>

namespace
{
// The frame renderer, driven as the output engine drove it.
struct FrameOrderSpu : spu_test::GlobalSpu
{
    void render(int16_t* samples, int frames) override
    {
        for (int i = 0; i < frames; ++i)
        {
            theSPU.playSound(samples[2 * i], samples[2 * i + 1]);
            if (theSPU.getSpuIRQCount() > 0)
                spu_test::countCallback();
        }
    }
};

// What a render leaves behind, beyond its frames.
std::vector<long> snapshot()
{
    std::vector<long> s;
    for (int k = 0; k < SPU::VoiceCount; ++k)
    {
        const Voice& v = theSPU.getVoice(k);
        s.insert(s.end(),
                 {v.getPosition(), v.getCurrentAddress(), v.getRepeatAddress(), v.getCurrentADSRVolume(),
                  v.getEnvelope().getPhase(), v.getCurrentOutX(), v.getChannelActive(),
                  v.getVolumeL().getCurrentVolume(), v.getVolumeR().getCurrentVolume()});
    }
    s.insert(s.end(), {Voice::NoiseState, Voice::NoiseCount, theSPU.getIRQFlag(),
                       theSPU.getMixer().getReverb().getCurrentAddress(),
                       static_cast<long>(theSPU.getCurrentTickCount()), spu_test::callbackCount()});
    s.insert(s.end(), spu_test::callbackTicks().begin(), spu_test::callbackTicks().end());
    return s;
}

// Everything handed to the frame renderer, with what it gave back.
struct Op
{
    enum Kind
    {
        Write,
        Dma,
        Render
    } kind;
    uint32_t address;
    uint16_t value;
    std::vector<uint16_t> words;
    std::vector<int16_t> frames;
    std::vector<long> after;
};

struct Recorder : FrameOrderSpu
{
    void write(uint32_t address, uint16_t value) override
    {
        FrameOrderSpu::write(address, value);
        ops.push_back({Op::Write, address, value, {}, {}, {}});
    }
    void dma(const uint16_t* words, int count) override
    {
        FrameOrderSpu::dma(words, count);
        ops.push_back({Op::Dma, 0, 0, std::vector<uint16_t>(words, words + count), {}, {}});
    }
    void render(int16_t* samples, int frames) override
    {
        FrameOrderSpu::render(samples, frames);
        ops.push_back(
            {Op::Render, 0, 0, {}, std::vector<int16_t>(samples, samples + 2 * frames), snapshot()});
    }
    std::vector<Op> ops;
};

struct Setting
{
    const char* name;
    int longestPiece; // render calls are cut into pieces of 1..longestPiece frames
    bool reverb;      // the hardware reverb on, its work area over one sample area
    bool forceFlag7;
    int finetune;
    bool avx2;
};

model::Spu modelFor(const Setting& setting)
{
    model::Spu m;
    m.forceFlag7 = setting.forceFlag7;
    m.finetune = setting.finetune;
    m.reverbSelector = setting.reverb ? 4 : 0;
    return m;
}

void reset(const model::Spu& m)
{
    spu_test::resetLike(m);
    Reverb::ConfigReverbType = m.reverbSelector;
}

using Session = std::function<bool(model::Comparison&, uint16_t control)>;

// A session on the frame renderer, against the model, recorded.
std::vector<Op> record(const Setting& setting, const Session& session)
{
    model::Spu m = modelFor(setting);
    reset(m);
    Recorder recorder;
    model::Comparison cmp(m, recorder);
    uint16_t control = 0;
    if (setting.reverb)
    {
        // "Hall", with a work area over the last sample area (units 0xFFC0..).
        const Reverb::Preset& hall = Reverb::Presets[5];
        for (int r = 0; r < 32; ++r)
            cmp.write(0x1F801DC0 + 2 * r, hall.registers[r]);
        cmp.write(0x1F801DA2, 0xF000);
        cmp.write(0x1F801D84, 0x7FFF);
        cmp.write(0x1F801D86, 0x7FFF);
        control = 0x0080;
    }
    EXPECT_TRUE(session(cmp, control)) << cmp.message;
    EXPECT_GT(cmp.soundingFrames, cmp.frameCount / 10);
    return recorder.ops;
}

std::vector<Op> record(const Setting& setting, uint32_t seed)
{
    std::vector<Op> ops = record(setting, [seed](model::Comparison& cmp, uint16_t control) {
        return model::runRandomSession(cmp, seed, 250, control);
    });
    EXPECT_GT(spu_test::callbackCount(), 0) << "the session raised no interrupt";
    return ops;
}

// The recording replayed through the block renderer; "" when all of it matched.
std::string replay(const Setting& setting, const std::vector<Op>& ops, uint32_t seed)
{
    reset(modelFor(setting));
    std::mt19937 rng(seed);
    long frame = 0;
    for (const Op& op : ops)
    {
        if (op.kind == Op::Write)
        {
            theSPU.writeRegister(op.address, op.value);
            continue;
        }
        if (op.kind == Op::Dma)
        {
            theSPU.writeDMAMemory(op.words.data(), static_cast<int>(op.words.size()));
            continue;
        }
        const int frames = static_cast<int>(op.frames.size() / 2);
        std::vector<int16_t> got(op.frames.size());
        for (int done = 0; done < frames;)
        {
            const int piece = std::min(frames - done, 1 + static_cast<int>(rng() % setting.longestPiece));
            const unsigned long rendered = theAudioOut.playSounds(got.data() + 2 * done, piece);
            if (rendered != static_cast<unsigned long>(piece))
                return "a piece was cut short";
            done += piece;
        }
        for (int i = 0; i < 2 * frames; ++i)
            if (got[i] != op.frames[i])
            {
                std::ostringstream s;
                s << "frame " << frame + i / 2 << (i % 2 ? " right" : " left") << ": blocks " << got[i]
                  << ", frames " << op.frames[i];
                return s.str();
            }
        frame += frames;
        const std::vector<long> state = snapshot();
        if (state.size() != op.after.size())
            return "after frame " + std::to_string(frame) + ": not the same callbacks";
        for (size_t i = 0; i < state.size(); ++i)
            if (state[i] != op.after[i])
            {
                std::ostringstream s;
                s << "after frame " << frame << ": state item " << i << " blocks " << state[i] << ", frames "
                  << op.after[i];
                return s.str();
            }
    }
    return "";
}

class BlockRenderTest : public ::testing::TestWithParam<Setting>
{
protected:
    void SetUp() override
    {
        if (GetParam().avx2 && !VoiceKernel::hasAvx2())
            GTEST_SKIP() << "no AVX2 on this processor";
        VoiceKernel::useAvx2(GetParam().avx2);
    }
    void TearDown() override { VoiceKernel::useAvx2(true); }
};

TEST_P(BlockRenderTest, RandomTrafficMatchesTheFrameRenderer)
{
    for (uint32_t seed = 1; seed <= 4; ++seed)
    {
        const std::vector<Op> ops = record(GetParam(), seed * 104729);
        ASSERT_FALSE(HasFailure()) << "seed " << seed;
        EXPECT_EQ("", replay(GetParam(), ops, seed)) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, BlockRenderTest,
                         ::testing::Values(Setting{"SingleFrames", 1, false, false, 0, true},
                                           Setting{"Short", 7, false, false, 0, true},
                                           Setting{"Millisecond", 44, true, false, 0, true},
                                           Setting{"Long", 3000, false, false, 0, true},
                                           Setting{"LongReverb", 3000, true, false, 0, true},
                                           Setting{"LongFlag7Finetune", 3000, false, true, 360, true},
                                           Setting{"LongPlainKernel", 3000, false, false, 0, false},
                                           Setting{"ReverbPlainKernel", 600, true, true, -17, false}),
                         [](const ::testing::TestParamInfo<Setting>& info) {
                             return std::string(info.param.name);
                         });

// One recording replayed with pieces of many bounds: short ones, those around a
// block of 28 samples and the renderer's block of 256 frames, and long ones.
TEST(BlockRenderTest, EveryBlockLengthMatchesTheFrameRenderer)
{
    const Setting setting{"", 1, true, false, 0, true};
    const std::vector<Op> ops = record(setting, 77);
    ASSERT_FALSE(HasFailure());
    for (int longest : {2, 3, 5, 8, 13, 28, 29, 100, 255, 256, 257, 300, 1000, 2048, 4000})
        EXPECT_EQ("", replay({"", longest, true, false, 0, true}, ops, static_cast<uint32_t>(longest)))
            << "pieces of up to " << longest;
}

// A voice that met the IRQ address while no interrupt was armed keeps that hit; with
// the flag-7 switch on, its next loop end with repeat (flag 7) raises the interrupt,
// in the frame of that loop end, after the interrupt has been armed.
TEST(BlockRenderTest, FlagSevenInterruptOfAnEarlierHitComesInItsFrame)
{
    const Setting setting{"", 3000, false, true, 0, true};
    const auto session = [](model::Comparison& cmp, uint16_t) {
        // Block 0 at unit 0x1000 (the IRQ address), block 1 ends with flag 7 and
        // loops onto itself.
        std::mt19937 rng(5);
        std::vector<uint16_t> words = model::randomBlocks(rng, 2, 0);
        words[0] = static_cast<uint16_t>(words[0] & 0x00FF);
        words[8] = static_cast<uint16_t>((words[8] & 0x00FF) | 0x0700);
        cmp.write(0x1F801DA6, 0x1000);
        cmp.dma(words);
        cmp.write(0x1F801D80, 0x3FFF);
        cmp.write(0x1F801D82, 0x3FFF);
        cmp.write(0x1F801DA4, 0x1000);
        cmp.write(0x1F801DAA, 0xC000);
        cmp.write(0x1F801C00, 0x3FFF);
        cmp.write(0x1F801C02, 0x3FFF);
        cmp.write(0x1F801C04, 0x0400);
        cmp.write(0x1F801C06, 0x1000);
        cmp.write(0x1F801C08, 0x00FF);
        cmp.write(0x1F801C0A, 0x0000);
        cmp.write(0x1F801D88, 0x0001);
        // A quarter step from sample 1: block 0 is left in frame 107, block 1 in 219.
        if (!cmp.render(150))
            return false;
        cmp.write(0x1F801DAA, 0xC040);
        return cmp.render(500);
    };
    const std::vector<Op> ops = record(setting, session);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(1u, spu_test::callbackTicks().size());
    EXPECT_EQ(220u, spu_test::callbackTicks()[0]) << "after the frame that leaves block 1";
    EXPECT_EQ("", replay(setting, ops, 1));
}

// A voice that walks off the end of sound RAM into the CD capture area while the
// capture is overwriting what a transfer left there: the blocks it enters hold the
// flags the capture has left by then.
TEST(BlockRenderTest, VoiceWrappingIntoTheCaptureAreaReadsWhatTheCaptureLeft)
{
    const Setting setting{"", 256, false, false, 0, true};
    const auto session = [](model::Comparison& cmp, uint16_t) {
        std::mt19937 rng(9);
        // The capture areas full of blocks that end without repeat; the last four
        // blocks of sound RAM walk on.
        std::vector<uint16_t> captured = model::randomBlocks(rng, 128, 0);
        for (size_t b = 0; b < captured.size(); b += 8)
            captured[b] = static_cast<uint16_t>((captured[b] & 0x00FF) | 0x0100);
        cmp.write(0x1F801DA6, 0x0000);
        cmp.dma(captured);
        cmp.write(0x1F801DA6, 0xFFF8);
        cmp.dma(model::randomBlocks(rng, 4, 0));
        cmp.write(0x1F801D80, 0x3FFF);
        cmp.write(0x1F801D82, 0x3FFF);
        cmp.write(0x1F801DAA, 0xC000);
        cmp.write(0x1F801C00, 0x3FFF);
        cmp.write(0x1F801C02, 0x3FFF);
        cmp.write(0x1F801C04, 0x3FFF);
        cmp.write(0x1F801C06, 0xFFF8);
        cmp.write(0x1F801C08, 0x00FF);
        cmp.write(0x1F801C0A, 0x0000);
        cmp.write(0x1F801C0E, 0xFFF8); // the loop start too: nothing but the wrap leads low
        cmp.write(0x1F801D88, 0x0001);
        return cmp.render(400);
    };
    const std::vector<Op> ops = record(setting, session);
    EXPECT_EQ("", replay(setting, ops, 1));
}
} // namespace
