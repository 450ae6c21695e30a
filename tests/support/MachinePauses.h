#pragma once

// A watch on the machine itself: a thread that sleeps 1 ms at a time, at a
// real-time priority where allowed (root), and notes each wake-up that came at
// least `minMs` late. At that priority no ordinary thread can hold it back, so what
// it sees is the whole machine standing still (a virtual machine's host taking
// its cores away), which stops every thread, a sound card's feeder included, and
// which no output with a buffer shorter than the pause can play through. The
// shared machines this runs on do so for 10 to 30 ms a few times a minute.

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

class MachinePauses
{
public:
    struct Pause
    {
        std::chrono::steady_clock::time_point start;
        double ms;
    };

    explicit MachinePauses(double minMs) : minMs(minMs) {}
    ~MachinePauses() { stop(); }

    void start();
    // Stops the watch and returns the pauses seen since start().
    std::vector<Pause> stop();

private:
    double minMs;
    std::thread thread;
    std::atomic<bool> stopRequested{false};
    std::vector<Pause> pauses;
};
