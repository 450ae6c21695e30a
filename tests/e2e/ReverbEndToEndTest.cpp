// The reverb through the plugin's exports, as a host drives it: four looping voices
// that all send to the reverb, the reverb registers, work-area start, reverb volumes
// and control bit 7 written through SPUwriteRegister, the algorithm chosen with the
// "ReverbType" key of ./cfg/spuTalvane.cfg, frames pulled with SPUrender.
//
// Every scene runs in a child process that loads its own copy of the plugin, because
// the hardware model's half-rate phase lives as long as the library. With the main
// volume register at 0x4000 (fixed -0x4000) the mixer outputs exactly minus the main
// sum, so the same voices rendered with the reverb off give the send; the plain model
// in tests/model then predicts every frame with the reverb on.

#include "model/ReferenceReverb.h"
#include "spuhost/Plugin.h"
#include "support/ScratchDir.h"
#include "support/SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
const unsigned long Window = 0x1F801C00;
const int VoiceCount = 4;
const unsigned short SampleStartUnit = 0x200; // byte 0x1000
const int SampleBlocks = 64;

struct Scene
{
    int selector = 4;
    unsigned short registers[32] = {};
    unsigned short start = 0xFFFE;
    unsigned short reverbVolumeL = 0x7FFF;
    unsigned short reverbVolumeR = 0xC000; // bit 15 set: 0x4000
    bool reverbOn = true;
    int frames = 6000;
    std::vector<int> toggles; // frames before which control bit 7 flips
};

struct Result
{
    std::vector<short> frames; // left, right interleaved
    std::vector<unsigned short> ram;
    bool ok = false;
};

std::vector<unsigned short> sampleData()
{
    std::mt19937 rng(77);
    std::vector<unsigned short> words(SampleBlocks * 8);
    for (int b = 0; b < SampleBlocks; ++b)
    {
        const unsigned char flags = b == 0 ? 0x04 : (b == SampleBlocks - 1 ? 0x03 : 0x00);
        words[b * 8] = static_cast<unsigned short>((flags << 8) | 0x06); // filter 0, shift 6
        for (int i = 1; i < 8; ++i)
            words[b * 8 + i] = static_cast<unsigned short>(rng());
    }
    return words;
}

void writeConfig(const std::string& dir, int selector)
{
    mkdir((dir + "/cfg").c_str(), 0755);
    FILE* f = std::fopen((dir + "/cfg/spuTalvane.cfg").c_str(), "w");
    if (f == nullptr)
        return;
    std::fputs(settingsText({{"AudioDevice", 0},
                             {"SoundBufferSize", 16384},
                             {"AudioOutMethod", 2},
                             {"WaitForXABufferIsFree", 0},
                             {"ReverbType", selector},
                             {"RecOpt", 0}})
                   .c_str(),
               f);
    std::fclose(f);
}

bool writeAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0)
    {
        const ssize_t n = write(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The child's side: load, set up, render, send frames and sound RAM down the pipe.
int playScene(const Scene& scene, const std::string& dir, int fd)
{
    if (chdir(dir.c_str()) != 0)
        return 2;
    writeConfig(dir, scene.selector);
    // A private copy of the library: should this process have loaded the plugin
    // already (other tests of the program), dlopen of the same path would hand back
    // that instance with its state.
    const std::string copy = dir + "/libspuTalvane-scene.so";
    {
        std::ifstream in(SPU_PLUGIN_PATH, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    Plugin plugin;
    if (!plugin.load(copy) || plugin.SPUrender == nullptr)
        return 3;
    plugin.SPUinit();
    auto reg = [&](unsigned long offset, unsigned short value) {
        plugin.SPUwriteRegister(Window + offset, value);
    };

    std::vector<unsigned short> samples = sampleData();
    reg(0x1A6, SampleStartUnit);
    plugin.SPUwriteDMAMem(samples.data(), static_cast<int>(samples.size()));

    for (int n = 0; n < 32; ++n)
        reg(0x1C0 + 2 * n, scene.registers[n]);
    reg(0x1A2, scene.start);
    reg(0x180, 0x4000); // main volume fixed at -0x4000: output = -(main sum)
    reg(0x182, 0x4000);
    reg(0x184, scene.reverbVolumeL);
    reg(0x186, scene.reverbVolumeR);
    for (int v = 0; v < VoiceCount; ++v)
    {
        const unsigned long base = v * 16;
        reg(base + 0x0, static_cast<unsigned short>(0x0400 + 0x180 * v)); // volume left
        reg(base + 0x2, static_cast<unsigned short>(0x0700 - 0x100 * v)); // volume right
        reg(base + 0x4, static_cast<unsigned short>(0x0C00 + 0x1A0 * v)); // pitch
        reg(base + 0x6, SampleStartUnit + 2 * v);
        reg(base + 0x8, 0x000F); // fast attack, sustain at the top
        reg(base + 0xA, 0x0000);
        reg(base + 0xE, SampleStartUnit);
    }
    reg(0x198, (1 << VoiceCount) - 1); // all voices send to the reverb
    unsigned short control = static_cast<unsigned short>(0xC000 | (scene.reverbOn ? 0x80 : 0));
    reg(0x1AA, control);
    reg(0x188, (1 << VoiceCount) - 1); // key on

    std::vector<short> frames(2 * scene.frames);
    size_t toggle = 0;
    for (int f = 0; f < scene.frames; ++f)
    {
        if (toggle < scene.toggles.size() && scene.toggles[toggle] == f)
        {
            control ^= 0x80;
            reg(0x1AA, control);
            ++toggle;
        }
        plugin.SPUrender(&frames[2 * f], 4);
    }

    std::vector<unsigned short> ram(0x40000);
    reg(0x1A6, 0);
    plugin.SPUreadDMAMem(ram.data(), static_cast<int>(ram.size()));
    plugin.SPUshutdown();
    if (!writeAll(fd, frames.data(), frames.size() * sizeof(short)) ||
        !writeAll(fd, ram.data(), ram.size() * sizeof(unsigned short)))
        return 4;
    return 0;
}

Result runScene(const Scene& scene)
{
    Result result;
    ScratchDir scratch(ScratchDir::StayPut, "spu_reverb_e2e");
    if (!scratch.ok())
        return result;
    const std::string dir = scratch.path();
    int fds[2];
    if (pipe(fds) != 0)
        return result;
    const pid_t pid = fork();
    if (pid == 0)
    {
        close(fds[0]);
        const int rc = playScene(scene, dir, fds[1]);
        close(fds[1]);
        _exit(rc);
    }
    close(fds[1]);
    std::vector<char> bytes;
    char chunk[65536];
    ssize_t n;
    while ((n = read(fds[0], chunk, sizeof(chunk))) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);

    const size_t frameBytes = 2 * scene.frames * sizeof(short);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || bytes.size() != frameBytes + 0x40000 * 2)
        return result;
    result.frames.resize(2 * scene.frames);
    std::memcpy(result.frames.data(), bytes.data(), frameBytes);
    result.ram.resize(0x40000);
    std::memcpy(result.ram.data(), bytes.data() + frameBytes, 0x40000 * 2);
    result.ok = true;
    return result;
}

int reverbVolume(unsigned short value)
{
    return (value & 0x8000) ? value - 0x8000 : value;
}

short clamp16(int64_t v)
{
    return static_cast<short>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

// Renders the scene dry and wet and checks every wet frame against the model fed
// with the dry send; for the hardware model also the work area left in sound RAM.
void checkScene(const Scene& scene)
{
    Scene dry = scene;
    dry.reverbOn = false;
    dry.toggles.clear();
    const Result send = runScene(dry);
    ASSERT_TRUE(send.ok);
    const Result wet = runScene(scene);
    ASSERT_TRUE(wet.ok);

    int nonzero = 0;
    for (short s : send.frames)
        nonzero += s != 0;
    ASSERT_GT(nonzero, scene.frames); // the voices really play

    std::unique_ptr<reference::Unit> model(new reference::Unit());
    std::vector<uint16_t> ram(0x40000, 0);
    const std::vector<unsigned short> samples = sampleData();
    std::copy(samples.begin(), samples.end(), ram.begin() + SampleStartUnit * 4);
    model->hw.ram = &ram;
    model->setRegisters(scene.registers);
    model->hw.setStart(scene.start);

    const int volumeL = reverbVolume(scene.reverbVolumeL);
    const int volumeR = reverbVolume(scene.reverbVolumeR);
    bool on = scene.reverbOn;
    size_t toggle = 0;
    int differences = 0;
    for (int f = 0; f < scene.frames; ++f)
    {
        if (toggle < scene.toggles.size() && scene.toggles[toggle] == f)
        {
            on = !on;
            ++toggle;
        }
        const int sendL = -send.frames[2 * f];
        const int sendR = -send.frames[2 * f + 1];
        int64_t sumL = sendL, sumR = sendR;
        if (on)
        {
            int32_t l = sendL, r = sendR;
            model->run(scene.selector, l, r);
            sumL += (static_cast<int64_t>(l) * volumeL) >> 15;
            sumR += (static_cast<int64_t>(r) * volumeR) >> 15;
        }
        if (wet.frames[2 * f] != clamp16(-sumL) || wet.frames[2 * f + 1] != clamp16(-sumR))
        {
            if (++differences <= 3)
                ADD_FAILURE() << "selector " << scene.selector << " frame " << f << ": (" << wet.frames[2 * f]
                              << ", " << wet.frames[2 * f + 1] << ") expected (" << clamp16(-sumL) << ", "
                              << clamp16(-sumR) << ")";
        }
    }
    EXPECT_EQ(0, differences);
    if (scene.selector == 4)
    {
        const int start = scene.start * 4;
        EXPECT_TRUE(std::equal(ram.begin() + start, ram.end(), wet.ram.begin() + start));
    }
}

// Two of the standard presets, as games program them.
const unsigned short RoomStart = 0xFB28;
const unsigned short RoomRegisters[32] = {0x007D, 0x005B, 0x6D80, 0x54B8, 0xBED0, 0x0000, 0x0000, 0xBA80,
                                          0x5800, 0x5300, 0x04D6, 0x0333, 0x03F0, 0x0227, 0x0374, 0x01EF,
                                          0x0334, 0x01B5, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
                                          0x0000, 0x0000, 0x01B4, 0x0136, 0x00B8, 0x005C, 0x8000, 0x8000};
const unsigned short HallStart = 0xEA44;
const unsigned short HallRegisters[32] = {0x01A5, 0x0139, 0x6000, 0x5000, 0x4C00, 0xB800, 0xBC00, 0xC000,
                                          0x6000, 0x5C00, 0x15BA, 0x11BB, 0x14C2, 0x10BD, 0x11BC, 0x0DC1,
                                          0x11C0, 0x0DC3, 0x0DC0, 0x09C1, 0x0BC4, 0x07C1, 0x0A00, 0x06CD,
                                          0x09C2, 0x05C1, 0x05C0, 0x041A, 0x0274, 0x013A, 0x8000, 0x8000};

Scene presetScene(int selector, const unsigned short* registers, unsigned short start)
{
    Scene scene;
    scene.selector = selector;
    std::copy(registers, registers + 32, scene.registers);
    scene.start = start;
    return scene;
}

Scene randomScene(int selector, unsigned seed, unsigned short start)
{
    std::mt19937 rng(seed);
    Scene scene;
    scene.selector = selector;
    for (unsigned short& r : scene.registers)
        r = static_cast<unsigned short>(rng());
    scene.start = start;
    return scene;
}
} // namespace

TEST(ReverbEndToEndTest, HardwareModelRoomPresetMatchesModel)
{
    checkScene(presetScene(4, RoomRegisters, RoomStart));
}

TEST(ReverbEndToEndTest, HardwareModelRandomRegistersNearEndOfRamMatchModel)
{
    checkScene(randomScene(4, 5, 0xFFF0));
    checkScene(randomScene(4, 6, 0xFFFF));
}

TEST(ReverbEndToEndTest, HardwareModelWithEnableToggledMatchesModel)
{
    Scene scene = presetScene(4, HallRegisters, HallStart);
    scene.toggles = {1000, 2500, 2501, 4000};
    checkScene(scene);
}

TEST(ReverbEndToEndTest, OffSelectorAddsNothing)
{
    checkScene(presetScene(0, RoomRegisters, RoomStart));
}

TEST(ReverbEndToEndTest, TimidityMatchesModel)
{
    checkScene(presetScene(1, RoomRegisters, RoomStart));
    checkScene(randomScene(1, 7, 0x8000));
}

TEST(ReverbEndToEndTest, FreeverbMatchesModel)
{
    Scene scene = presetScene(2, HallRegisters, HallStart);
    scene.toggles = {3000};
    checkScene(scene);
}

TEST(ReverbEndToEndTest, CombBankMatchesModel)
{
    checkScene(presetScene(3, HallRegisters, HallStart));
    checkScene(randomScene(3, 8, 0x1234));
}

TEST(ReverbEndToEndTest, EchoFromConfigFileOnlyMatchesModel)
{
    Scene scene = presetScene(99, RoomRegisters, RoomStart);
    scene.frames = 9000; // past the first repeat at 4096 samples
    checkScene(scene);
}
