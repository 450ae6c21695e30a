// spuhost encode and spuhost render, run as a user runs them.

#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
std::string run(const std::string& command)
{
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
        output += buffer;
    const int status = pclose(pipe);
    return output + (status == 0 ? "" : "[exit " + std::to_string(status) + "]");
}

void writeWav(const std::string& path, const std::vector<int16_t>& mono)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    auto u32 = [f](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [f](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + 2 * static_cast<uint32_t>(mono.size()));
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(1);
    u32(22050);
    u32(44100);
    u16(2);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(2 * static_cast<uint32_t>(mono.size()));
    std::fwrite(mono.data(), 2, mono.size(), f);
    std::fclose(f);
}

TEST(SpuhostToolsTest, EncodeWritesBlocksAndReportsTheRoundTripError)
{
    std::vector<int16_t> mono(1000);
    for (size_t i = 0; i < mono.size(); ++i)
        mono[i] = static_cast<int16_t>(12000 * std::sin(i * 0.05));
    const std::string wav = "/tmp/spuhost_encode_test.wav", out = "/tmp/spuhost_encode_test.adpcm";
    writeWav(wav, mono);
    const std::string report = run(std::string(SPU_HOST_PATH) + " encode " + wav + " " + out + " --loop");
    EXPECT_NE(std::string::npos, report.find("1000 samples at 22050 Hz -> 36 blocks")) << report;
    EXPECT_NE(std::string::npos, report.find("SNR")) << report;
    const std::vector<unsigned char> blocks = readFileBytes(out);
    ASSERT_EQ(36u * 16, blocks.size());
    EXPECT_EQ(4, blocks[1]);
    EXPECT_EQ(3, blocks[35 * 16 + 1]);

    EXPECT_NE(std::string::npos,
              run(std::string(SPU_HOST_PATH) + " encode /nonexistent.wav " + out).find("cannot read"));
    std::remove(wav.c_str());
    std::remove(out.c_str());
}

TEST(SpuhostToolsTest, RenderDemoWritesMusic)
{
    const std::string wav = "/tmp/spuhost_render_test.wav";
    const std::string report =
        run(std::string(SPU_HOST_PATH) + " render " + SPU_PLUGIN_PATH + " --demo --wav " + wav);
    ASSERT_EQ(std::string::npos, report.find("[exit")) << report;
    const std::vector<unsigned char> bytes = readFileBytes(wav);
    ASSERT_GT(bytes.size(), 44u);
    const size_t frames = (bytes.size() - 44) / 4;
    EXPECT_GE(frames, 20u * 44100);
    EXPECT_EQ(0, std::string(bytes.begin(), bytes.begin() + 4).compare("RIFF"));

    // Every two seconds until the end of the piece has sound, and the sound is tonal
    // (neighbouring samples alike), not noise.
    const int16_t* s = reinterpret_cast<const int16_t*>(bytes.data() + 44);
    for (size_t start = 0; start + 2 * 44100 <= 20 * 44100; start += 2 * 44100)
    {
        double power = 0, lag = 0;
        for (size_t i = start; i < start + 2 * 44100; ++i)
        {
            power += double(s[2 * i]) * s[2 * i];
            lag += double(s[2 * i]) * s[2 * (i + 1)];
        }
        EXPECT_GT(std::sqrt(power / (2 * 44100)), 300.0) << "second " << start / 44100;
        EXPECT_GT(lag / power, 0.9) << "second " << start / 44100;
    }

    const std::string cut = run(std::string(SPU_HOST_PATH) + " render " + SPU_PLUGIN_PATH + " --demo --wav " +
                                wav + " --seconds 3");
    EXPECT_EQ(44u + 3 * 44100 * 4, readFileBytes(wav).size()) << cut;
    std::remove(wav.c_str());
}
// 24347 s are the most whole seconds a WAV file's 32-bit sizes can count.
TEST(SpuhostToolsTest, RenderRefusesSecondsPastWhatAWavHolds)
{
    const std::string wav = "/tmp/spuhost_render_long_test.wav";
    std::remove(wav.c_str());
    const std::string report = run(std::string(SPU_HOST_PATH) + " render " + SPU_PLUGIN_PATH +
                                   " --demo --wav " + wav + " --seconds 24348");
    EXPECT_NE(std::string::npos, report.find("longer than a WAV file holds (1073741814 frames, 24347 s)"))
        << report;
    EXPECT_NE(std::string::npos, report.find("[exit")) << report;
    EXPECT_NE(0, access(wav.c_str(), F_OK)) << "the file was created";
    std::remove(wav.c_str());
}
} // namespace
