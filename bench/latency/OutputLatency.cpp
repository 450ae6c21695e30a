// output_latency: measures the live output path. For each device (OSS and SDL's
// disk driver, both writing into a stand-in sound card, a FUSE file that takes its
// writes a period at a time at 44 100 frames per second) and ring size it
// plays a two-voice scene for a while with the "Thread" method and reports
//  - underruns: times the queue (write cursor - play cursor, sampled every ms
//    inside the critical section) fell below one 128-frame device block, so the
//    device's next take read frames the engine had not written;
//  - glitches: places where the captured sound departs from what SPUrender gives
//    for the same scene (underruns, and the engine's queue corrections);
//  - the queued latency, (write cursor - play cursor) in milliseconds, sampled
//    every millisecond inside the critical section: minimum, median, maximum.
//
// Usage: output_latency [--seconds N] [--sizes 64,16,8] [--devices oss,sdl]
// The OSS run needs root: the card is "/dev/dsp" in a private /dev of this process
// only (a mount namespace of its own), never machine-wide.

#include "audio/AudioDevice.h"
#include "audio/AudioOut.h"
#include "audio/AudioOutThread.h"
#include "audio/CriticalSection.h"
#include "spu/SPU.h"
#include "support/MachinePauses.h"
#include "support/PrivateDev.h"
#include "support/SoundCardFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
// The layers measured, without the plugin's globals: one SPU rendered by one engine,
// paced by the "Thread" method.
SPU spu;
AudioOut engine;

int threadMethod()
{
    return 0;
}

// Two voices looping the same two ADPCM blocks at unrelated pitches, so the sound
// does not repeat within a ring and a jump of the cursors cannot hide.
void setUpScene()
{
    spu.writeRegister(0x1F801DAA, 0xC000);
    spu.writeRegister(0x1F801DA6, 0x0200);
    std::vector<unsigned short> blocks;
    const unsigned char flags[2] = {0x04, 0x03};
    for (int block = 0; block < 2; ++block)
    {
        blocks.push_back(static_cast<unsigned short>(0x02 | (flags[block] << 8)));
        for (int i = 0; i < 7; ++i)
        {
            const unsigned n = static_cast<unsigned>(block * 7 + i);
            const unsigned b0 = (1 + n * 3 % 15) | ((1 + (n * 5 + 7) % 15) << 4);
            const unsigned b1 = (1 + (n * 7 + 1) % 15) | ((1 + (n * 11 + 3) % 15) << 4);
            blocks.push_back(static_cast<unsigned short>(b0 | (b1 << 8)));
        }
    }
    spu.writeDMAMemory(blocks.data(), static_cast<int>(blocks.size()));
    spu.writeRegister(0x1F801D80, 0x3FFF);
    spu.writeRegister(0x1F801D82, 0x3FFF);
    const unsigned short pitches[2] = {0x1000, 0x0B3D};
    for (int v = 0; v < 2; ++v)
    {
        const unsigned long base = 0x1F801C00 + 16 * v;
        spu.writeRegister(base + 0, 0x2000);
        spu.writeRegister(base + 2, 0x1800);
        spu.writeRegister(base + 4, pitches[v]);
        spu.writeRegister(base + 6, 0x0200);
        spu.writeRegister(base + 8, 0x00FF);
        spu.writeRegister(base + 10, 0x0000);
    }
    spu.writeRegister(0x1F801D88, 0x0003);
}

std::vector<unsigned int> renderReference(size_t frames)
{
    spu.init();
    setUpScene();
    std::vector<unsigned int> out(frames);
    engine.playSounds(reinterpret_cast<short*>(out.data()), frames);
    return out;
}

// The places where `captured` departs from `reference`: after each departure the
// next captured run is looked up in the reference again and the count goes on from
// there. Underruns and queue corrections (the write cursor jumping) both show here.
struct Glitches
{
    size_t count = 0;
    size_t compared = 0;
};

Glitches countGlitches(const std::vector<unsigned int>& captured, const std::vector<unsigned int>& reference)
{
    Glitches g;
    size_t start = 0;
    while (start < captured.size() && captured[start] == 0)
        ++start;
    size_t end = captured.size();
    while (end > start && captured[end - 1] == 0)
        --end;
    size_t r = 0;
    while (r < reference.size() && reference[r] == 0)
        ++r;
    const size_t run = 32;
    size_t i = start;
    while (i < end)
    {
        if (r < reference.size() && captured[i] == reference[r])
        {
            ++g.compared;
            ++i;
            ++r;
            continue;
        }
        bool stale = false;
        bool found = false;
        while (!found && i + run < end)
        {
            for (size_t j = 0; j + run < reference.size() && !found; ++j)
                if (std::equal(captured.begin() + i, captured.begin() + i + run, reference.begin() + j))
                {
                    if (!stale)
                        ++g.count;
                    r = j;
                    found = true;
                }
            if (!found)
            {
                if (!stale)
                    ++g.count;
                stale = true;
                i += run;
            }
        }
        if (!found)
            break;
    }
    return g;
}

// The OSS device finds the card at "/dev/dsp": a file of this process's private
// /dev (see main), so no other process on the machine can write into the capture.
bool bindOverDsp(const std::string& device)
{
    const int fd = open("/dev/dsp", O_WRONLY | O_CREAT, 0600);
    if (fd >= 0)
        close(fd);
    return fd >= 0 && mount(device.c_str(), "/dev/dsp", nullptr, MS_BIND, nullptr) == 0;
}

void measure(const std::string& deviceName, int size, int seconds, bool privateDev)
{
    const bool oss = deviceName == "oss";
    char dirPattern[] = "/tmp/spulatencyXXXXXX";
    const std::string dir = mkdtemp(dirPattern);
    const std::string cardFolder = dir + "/card";
    mkdir(cardFolder.c_str(), 0700);
    SoundCardFile card;
    std::string error;
    const char* skipped = nullptr;
    if (oss && !privateDev)
        skipped = "needs root (a private /dev for the stand-in card)";
    else if (!card.mount(cardFolder, oss ? SoundCardFile::Oss : SoundCardFile::Sdl, &error))
        skipped = error.c_str();
    else if (oss && !bindOverDsp(card.path()))
        skipped = "cannot bind the card over /dev/dsp";
    if (skipped != nullptr)
    {
        std::printf("%-4s %4d  skipped: %s\n", deviceName.c_str(), size, skipped);
        card.finish();
        rmdir(cardFolder.c_str());
        rmdir(dir.c_str());
        return;
    }
    if (oss)
        AudioOut::ConfigAudioDevice = 3;
    else
    {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", card.path().c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "0", 1);
        AudioOut::ConfigAudioDevice = 1;
    }
    AudioDevice::ConfigSoundBufferSize = size;
    AudioOut::ConfigAsyncMode = 0;

    spu.init();
    setUpScene();
    engine.init();
    MachinePauses watch(8);
    watch.start();
    startAudioOutThread();

    const unsigned long ring = engine.getDevice()->getBufferSamples();
    std::vector<double> queuedMs;
    // An underrun: the queue falls below one 128-frame device block, so the
    // device's next take reaches frames the engine has not written yet.
    size_t underruns = 0;
    bool starved = false;
    const auto begin = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - begin < std::chrono::seconds(seconds))
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        enterCS();
        const unsigned long play = engine.getDevice()->getCurrentPosition();
        const unsigned long write = engine.getWritePosition();
        leaveCS();
        // As the engine sees it: no free frame means a full ring.
        const unsigned long freeFrames = (play + ring - write) % ring;
        const unsigned long queued = ring - freeFrames;
        if (queued < 128 && !starved)
            ++underruns;
        starved = queued < 128;
        queuedMs.push_back(queued * 1000.0 / 44100);
    }
    stopAudioOutThread();
    engine.close();
    const std::vector<MachinePauses::Pause> pauses = watch.stop();
    double longestPause = 0;
    for (const MachinePauses::Pause& pause : pauses)
        longestPause = std::max(longestPause, pause.ms);
    if (oss)
        umount("/dev/dsp");
    const std::vector<unsigned int> captured = card.finish();
    rmdir(cardFolder.c_str());
    rmdir(dir.c_str());

    const std::vector<unsigned int> reference = renderReference(static_cast<size_t>(seconds + 2) * 44100);
    const Glitches g = countGlitches(captured, reference);
    std::sort(queuedMs.begin(), queuedMs.end());
    std::printf("%-4s %4d %6lu %9zu %8zu %8.1f %8.1f %8.1f %8.1f %6d %6zu %7.0f\n", deviceName.c_str(), size,
                ring, underruns, g.count, g.compared / 44100.0, queuedMs.front(),
                queuedMs[queuedMs.size() / 2], queuedMs.back(), card.getStalls(), pauses.size(),
                longestPause);
    std::fflush(stdout);
}

std::vector<std::string> split(const std::string& text)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        parts.push_back(part);
    return parts;
}
} // namespace

int main(int argc, char** argv)
{
    engine.setFrameSource(spu);
    setAudioOutPacing({&engine, threadMethod, nullptr, nullptr});
    int seconds = 30;
    std::vector<std::string> sizes = {"64", "16", "8"};
    std::vector<std::string> devices = {"oss", "sdl"};
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (arg == "--sizes" && i + 1 < argc)
            sizes = split(argv[++i]);
        else if (arg == "--devices" && i + 1 < argc)
            devices = split(argv[++i]);
        else
        {
            std::fprintf(stderr,
                         "usage: output_latency [--seconds N] [--sizes 64,16,8] [--devices oss,sdl]\n");
            return 2;
        }
    }
    if (seconds < 1)
        seconds = 1;

    // Before any thread exists: the namespace is the process's own.
    char staging[] = "/tmp/spulatency-devXXXXXX";
    const bool privateDev = geteuid() == 0 && mkdtemp(staging) != nullptr && enterPrivateDev(staging);

    initCS();
    std::printf(
        "\"Thread\" method, %d s per run; queued latency = write cursor - play cursor, sampled every ms\n",
        seconds);
    std::printf("underruns: times the queue fell below one 128-frame block; glitches: places where the\n"
                "captured sound departs from SPUrender (underruns and queue corrections); sound(s): seconds "
                "matched;\n"
                "stalls: times the stand-in card ran dry (4 x 512 frames for OSS, 16 x 128 for SDL);\n"
                "pauses: times the whole machine stood still for 8 ms or more (count, longest ms)\n");
    std::printf(
        "dev  size   ring underruns glitches sound(s)   min ms median ms   max ms stalls pauses longest\n");
    for (const std::string& device : devices)
        for (const std::string& size : sizes)
            measure(device, std::atoi(size.c_str()), seconds, privateDev);
    deleteCS();
    if (privateDev)
        rmdir(staging);
    return 0;
}
