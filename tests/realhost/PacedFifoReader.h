#pragma once

// The listener's end of a FIFO that stands in for a sound device: a thread reads it
// at 44100 stereo 16-bit frames a second by the monotonic clock, as a sound card
// would drain it, and keeps every byte. The pipe is held to one page, about what a
// driver's fragments hold, so a writer that blocks on it is paced by the reader.

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

class PacedFifoReader
{
public:
    ~PacedFifoReader();

    // Makes the FIFO at `path` and opens its reading end (without waiting for a
    // writer). False when either fails.
    bool create(const std::string& path);
    // Starts the paced reading; it ends when the writer closes its end or stop().
    void start();
    void stop();
    // Stops and returns the frames read, one 32-bit cell each (left, right).
    std::vector<unsigned int> finish();
    // Times the writer fell so far behind that silence was put in its place.
    int getStalls() const { return stalls; }
    // When the first bytes came: frame i of the capture was heard i / 44100 s later.
    std::chrono::steady_clock::time_point getBegin() const { return begin; }

private:
    void run();
    void fillStall(std::chrono::steady_clock::time_point begin);

    std::string path;
    int fd = -1;
    std::thread thread;
    std::atomic<bool> stopRequested{false};
    std::vector<unsigned char> bytes;
    int stalls = 0;
    std::chrono::steady_clock::time_point begin;
};
