#pragma once

// Stops the fuzzer on an input that runs too long. libFuzzer's own -timeout rests
// on SIGALRM, which the plugin's critical section blocks in the calling thread, so
// it cannot fire inside the plugin. A thread of its own reads the CPU time of the
// fuzzing thread instead and aborts when one input has used more than the limit
// (or has run ten times the limit on the wall clock, asleep or not); libFuzzer then
// keeps the input as a crash.
namespace fuzz
{
class Watchdog
{
public:
    // Starts the watching thread on first use, for the calling thread.
    static Watchdog& instance();
    void beginInput();
    void endInput();

private:
    Watchdog();
};

// Runs the body as one watched input.
template <typename F> void watched(F body)
{
    Watchdog& dog = Watchdog::instance();
    dog.beginInput();
    body();
    dog.endInput();
}
} // namespace fuzz
