#pragma once

// A sound card in a file: a FUSE file system with one file, "dsp", whose writes are
// taken as a card takes them. The card holds `periods` periods of `periodFrames`
// stereo 16-bit frames and plays them at 44100 frames a second by the monotonic
// clock from the first write on; room comes free a whole period at a time, and a
// write blocks until there is room for it. Every byte is kept. A card that plays
// everything it was given before the next write arrives plays silence meanwhile,
// as a real one does, and counts a stall.
//
// A FIFO cannot stand in for this: a pipe frees its room a page (1024 frames) at
// a time, so its writer moves in bursts four to eight times a card's period.
//
// The file system is mounted by this process (root, or a user allowed to mount
// FUSE) and served on a thread of its own; the emulator opens the file by its path
// (SDL's disk driver) or as /dev/dsp bound over it in a private mount namespace.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

struct fuse;

class SoundCardFile
{
public:
    struct Model
    {
        int periodFrames;
        int periods;
    };
    // An OSS card as the plugin sets it up (4 fragments of 512 frames), and SDL as
    // its audio thread feeds a sound server: callbacks of 128 frames, into a buffer
    // as deep as the OSS card's. The depth is the device's own latency; what the
    // plugin's ring sees is the size of each take. (Two periods of 128, as on a
    // bare ALSA device, make a card that a busy machine's scheduler starves now and
    // then, whatever the plugin does: SDL's thread itself comes too late.)
    static constexpr Model Oss = {512, 4};
    static constexpr Model Sdl = {128, 16};

    ~SoundCardFile();

    // Mounts the file system at `folder` (an empty folder). False, with the reason
    // in `error`, where FUSE is missing or the mount is refused.
    bool mount(const std::string& folder, Model model, std::string* error);
    std::string path() const { return folder + "/dsp"; }
    // Unmounts and returns the frames played, one 32-bit cell each (left, right),
    // the silence of the stalls included.
    std::vector<unsigned int> finish();
    // Times the card ran dry.
    int getStalls() const { return stalls; }
    // When the first frame was played: frame i of the capture was heard i / 44100 s later.
    std::chrono::steady_clock::time_point getBegin() const { return begin; }

    // The file system's calls, on its own thread.
    int write(const char* data, size_t size);
    void truncate();

private:
    std::string folder;
    Model model = Oss;
    struct fuse* fs = nullptr;
    std::thread loop;
    bool started = false;
    std::chrono::steady_clock::time_point begin;
    std::vector<unsigned char> bytes;
    int stalls = 0;
};
