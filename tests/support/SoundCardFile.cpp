#define FUSE_USE_VERSION 31

#include "support/SoundCardFile.h"

#include <fuse.h>

#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>

constexpr SoundCardFile::Model SoundCardFile::Oss;
constexpr SoundCardFile::Model SoundCardFile::Sdl;

namespace
{
const char* const FileName = "/dsp";
const double FramesPerSecond = 44100;

SoundCardFile* card()
{
    return static_cast<SoundCardFile*>(fuse_get_context()->private_data);
}

int fsGetattr(const char* path, struct stat* st, fuse_file_info*)
{
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, "/") == 0)
    {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    }
    if (std::strcmp(path, FileName) != 0)
        return -ENOENT;
    st->st_mode = S_IFREG | 0666;
    st->st_nlink = 1;
    // A stdio stream (SDL's disk driver writes through one) buffers this much: one
    // callback's 128 frames, so each callback reaches the card as it is made.
    st->st_blksize = 512;
    return 0;
}

int fsOpen(const char* path, fuse_file_info* info)
{
    if (std::strcmp(path, FileName) != 0)
        return -ENOENT;
    // Each write() of the writer arrives here as it is made, not through a cache.
    info->direct_io = 1;
    info->nonseekable = 1;
    return 0;
}

int fsWrite(const char* path, const char* data, size_t size, off_t, fuse_file_info*)
{
    if (std::strcmp(path, FileName) != 0)
        return -ENOENT;
    return card()->write(data, size);
}

int fsTruncate(const char*, off_t, fuse_file_info*)
{
    card()->truncate();
    return 0;
}
} // namespace

SoundCardFile::~SoundCardFile()
{
    finish();
}

bool SoundCardFile::mount(const std::string& mountFolder, Model cardModel, std::string* error)
{
    folder = mountFolder;
    model = cardModel;
    static fuse_operations operations = [] {
        fuse_operations ops = {};
        ops.getattr = fsGetattr;
        ops.open = fsOpen;
        ops.write = fsWrite;
        ops.truncate = fsTruncate;
        return ops;
    }();
    char name[] = "spu-card";
    char* argv[] = {name, nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, argv);
    fs = fuse_new(&args, &operations, sizeof operations, this);
    fuse_opt_free_args(&args);
    if (fs == nullptr)
    {
        *error = "fuse_new failed";
        return false;
    }
    if (fuse_mount(fs, folder.c_str()) != 0)
    {
        fuse_destroy(fs);
        fs = nullptr;
        *error = "cannot mount a FUSE file system at " + folder + " (no /dev/fuse, or not allowed)";
        return false;
    }
    // One request at a time: the card has one writer, and a blocked write is the
    // card being full.
    loop = std::thread([this] {
        // A card is hardware and never late: where allowed (root), its thread runs
        // at a real-time priority, so that a busy machine delays the writer only.
        sched_param priority = {};
        priority.sched_priority = 10;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
        fuse_loop(fs);
    });
    return true;
}

std::vector<unsigned int> SoundCardFile::finish()
{
    if (fs != nullptr)
    {
        // The unmount ends the loop's wait for the next request.
        fuse_exit(fs);
        fuse_unmount(fs);
        loop.join();
        fuse_destroy(fs);
        fs = nullptr;
    }
    std::vector<unsigned int> frames(bytes.size() / 4);
    std::memcpy(frames.data(), bytes.data(), frames.size() * 4);
    return frames;
}

void SoundCardFile::truncate()
{
    if (!started)
        bytes.clear();
}

int SoundCardFile::write(const char* data, size_t size)
{
    using Clock = std::chrono::steady_clock;
    if (!started)
    {
        started = true;
        begin = Clock::now();
    }
    const auto playedBy = [this](Clock::time_point when) {
        return static_cast<size_t>(std::chrono::duration<double>(when - begin).count() * FramesPerSecond);
    };

    size_t played = playedBy(Clock::now());
    if (played > bytes.size() / 4)
    {
        ++stalls;
        bytes.resize(played * 4, 0);
    }

    // Room comes free as whole periods are played.
    const size_t period = static_cast<size_t>(model.periodFrames);
    const size_t capacity = period * static_cast<size_t>(model.periods);
    const size_t after = (bytes.size() + size) / 4;
    while (after > played / period * period + capacity)
    {
        const size_t freedBy = (after - capacity + period - 1) / period * period;
        std::this_thread::sleep_until(begin + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(freedBy / FramesPerSecond)));
        played = playedBy(Clock::now());
    }
    bytes.insert(bytes.end(), data, data + size);
    return static_cast<int>(size);
}
