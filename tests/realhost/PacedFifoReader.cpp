#include "realhost/PacedFifoReader.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

PacedFifoReader::~PacedFifoReader()
{
    finish();
}

bool PacedFifoReader::create(const std::string& fifoPath)
{
    path = fifoPath;
    if (mkfifo(path.c_str(), 0600) != 0)
        return false;
    // Non-blocking so the open does not wait for the writer; the reads block again.
    fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    fcntl(fd, F_SETPIPE_SZ, 4096);
    return true;
}

void PacedFifoReader::start()
{
    thread = std::thread([this] { run(); });
}

void PacedFifoReader::stop()
{
    stopRequested = true;
    if (thread.joinable())
        thread.join();
}

std::vector<unsigned int> PacedFifoReader::finish()
{
    stop();
    if (fd >= 0)
    {
        close(fd);
        fd = -1;
    }
    std::vector<unsigned int> frames(bytes.size() / 4);
    std::memcpy(frames.data(), bytes.data(), frames.size() * 4);
    return frames;
}

// A card whose buffer ran dry plays silence and goes on: so does the capture, once
// the writer is more than two chunks late.
void PacedFifoReader::fillStall(std::chrono::steady_clock::time_point begin)
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const size_t due = static_cast<size_t>(seconds * 44100) * 4;
    const size_t late = 2 * 4096;
    if (due > bytes.size() + late)
    {
        ++stalls;
        bytes.resize(due - late - (due - late) % 4, 0);
    }
}

void PacedFifoReader::run()
{
    using Clock = std::chrono::steady_clock;
    unsigned char chunk[4096];
    bool writerSeen = false;
    while (!stopRequested)
    {
        // Until the writer opens its end, poll reports nothing (or a hang-up with no
        // writer yet): wait for the first bytes, then keep the pace from there.
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 5) <= 0 || (p.revents & POLLIN) == 0)
        {
            if (writerSeen && (p.revents & POLLHUP) != 0)
                break; // the writer closed its end
            if (writerSeen)
                fillStall(begin);
            continue;
        }
        if (!writerSeen)
        {
            writerSeen = true;
            begin = Clock::now();
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        const size_t due = static_cast<size_t>(seconds * 44100) * 4 + sizeof(chunk);
        if (bytes.size() >= due)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const ssize_t got = read(fd, chunk, std::min(sizeof(chunk), due - bytes.size()));
        if (got > 0)
            bytes.insert(bytes.end(), chunk, chunk + got);
    }
}
