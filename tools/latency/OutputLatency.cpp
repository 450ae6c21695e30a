// output_latency: measures the live output path. For each device (an OSS FIFO at
// "/dev/dsp" read at 44 100 frames per second, SDL's disk driver) and ring size it
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
// The OSS run needs root and no "/dev/dsp" (it makes a FIFO there and removes it).

#include "audio/AudioDevice.h"
#include "audio/AudioOut.h"
#include "audio/AudioOutThread.h"
#include "audio/CriticalSection.h"
#include "plugin/Globals.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
// Two voices looping the same two ADPCM blocks at unrelated pitches, so the sound
// does not repeat within a ring and a jump of the cursors cannot hide.
void setUpScene()
{
    theSPU.writeRegister(0x1F801DAA, 0xC000);
    theSPU.writeRegister(0x1F801DA6, 0x0200);
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
    theSPU.writeDMAMemory(blocks.data(), static_cast<int>(blocks.size()));
    theSPU.writeRegister(0x1F801D80, 0x3FFF);
    theSPU.writeRegister(0x1F801D82, 0x3FFF);
    const unsigned short pitches[2] = {0x1000, 0x0B3D};
    for (int v = 0; v < 2; ++v)
    {
        const unsigned long base = 0x1F801C00 + 16 * v;
        theSPU.writeRegister(base + 0, 0x2000);
        theSPU.writeRegister(base + 2, 0x1800);
        theSPU.writeRegister(base + 4, pitches[v]);
        theSPU.writeRegister(base + 6, 0x0200);
        theSPU.writeRegister(base + 8, 0x00FF);
        theSPU.writeRegister(base + 10, 0x0000);
    }
    theSPU.writeRegister(0x1F801D88, 0x0003);
}

std::vector<unsigned int> renderReference(size_t frames)
{
    theSPU.init();
    setUpScene();
    std::vector<unsigned int> out(frames);
    theAudioOut.playSounds(reinterpret_cast<short*>(out.data()), frames);
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

class FifoReader
{
public:
    bool open()
    {
        struct stat st;
        if (stat("/dev/dsp", &st) == 0 || geteuid() != 0)
            return false;
        if (mkfifo("/dev/dsp", 0600) != 0)
            return false;
        fd = ::open("/dev/dsp", O_RDONLY | O_NONBLOCK);
        fcntl(fd, F_SETPIPE_SZ, 4096); // one page, about what a driver's fragments hold
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd >= 0;
    }
    void start()
    {
        thread = std::thread([this] {
            const auto begin = std::chrono::steady_clock::now();
            unsigned char chunk[4096];
            for (;;)
            {
                const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
                const size_t due = static_cast<size_t>(s * 44100) * 4;
                if (bytes.size() >= due)
                {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                const ssize_t got = read(fd, chunk, std::min(sizeof(chunk), due - bytes.size()));
                if (got <= 0)
                    return;
                bytes.insert(bytes.end(), chunk, chunk + got);
            }
        });
    }
    std::vector<unsigned int> finish()
    {
        if (thread.joinable())
            thread.join();
        ::close(fd);
        unlink("/dev/dsp");
        std::vector<unsigned int> frames(bytes.size() / 4);
        std::memcpy(frames.data(), bytes.data(), frames.size() * 4);
        return frames;
    }

private:
    int fd = -1;
    std::thread thread;
    std::vector<unsigned char> bytes;
};

std::vector<unsigned int> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<unsigned int> frames(bytes.size() / 4);
    std::memcpy(frames.data(), bytes.data(), frames.size() * 4);
    return frames;
}

void measure(const std::string& deviceName, int size, int seconds)
{
    FifoReader fifo;
    char dirPattern[] = "/tmp/spulatencyXXXXXX";
    const std::string dir = mkdtemp(dirPattern);
    const std::string sdlFile = dir + "/sdl.raw";
    if (deviceName == "oss")
    {
        if (!fifo.open())
        {
            std::printf("%-4s %4d  skipped: needs root and no /dev/dsp\n", deviceName.c_str(), size);
            rmdir(dir.c_str());
            return;
        }
        AudioOut::ConfigAudioDevice = 3;
    }
    else
    {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", sdlFile.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "3", 1);
        AudioOut::ConfigAudioDevice = 1;
    }
    AudioDevice::ConfigSoundBufferSize = size;
    AudioOut::ConfigAsyncMode = 0;
    theConfig.AudioOutMethod = 0;

    theSPU.init();
    setUpScene();
    theAudioOut.init();
    startAudioOutThread();
    if (deviceName == "oss")
        fifo.start();

    const unsigned long ring = theAudioOut.getDevice()->getBufferSamples();
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
        const unsigned long play = theAudioOut.getDevice()->getCurrentPosition();
        const unsigned long write = theAudioOut.getWritePosition();
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
    theAudioOut.close();
    const std::vector<unsigned int> captured = deviceName == "oss" ? fifo.finish() : readFile(sdlFile);
    unlink(sdlFile.c_str());
    rmdir(dir.c_str());

    const std::vector<unsigned int> reference = renderReference(static_cast<size_t>(seconds + 2) * 44100);
    const Glitches g = countGlitches(captured, reference);
    std::sort(queuedMs.begin(), queuedMs.end());
    std::printf("%-4s %4d %6lu %9zu %8zu %8.1f %8.1f %8.1f %8.1f\n", deviceName.c_str(), size, ring, underruns,
                g.count, g.compared / 44100.0, queuedMs.front(), queuedMs[queuedMs.size() / 2], queuedMs.back());
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
            std::fprintf(stderr, "usage: output_latency [--seconds N] [--sizes 64,16,8] [--devices oss,sdl]\n");
            return 2;
        }
    }
    if (seconds < 1)
        seconds = 1;

    initCS();
    std::printf("\"Thread\" method, %d s per run; queued latency = write cursor - play cursor, sampled every ms\n",
                seconds);
    std::printf("underruns: times the queue fell below one 128-frame block; glitches: places where the\n"
                "captured sound departs from SPUrender (underruns and queue corrections); sound(s): seconds matched\n");
    std::printf("dev  size   ring underruns glitches sound(s)   min ms median ms   max ms\n");
    for (const std::string& device : devices)
        for (const std::string& size : sizes)
            measure(device, std::atoi(size.c_str()), seconds);
    deleteCS();
    return 0;
}
