#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// A progress count on one terminal line ("LABEL: 1234 of 5678 frames (21.7%)"),
// rewritten in place with a carriage return: at the first update, then at most
// once every Interval seconds, and finish() shows the last count and ends the
// line. Only meant for a terminal; the caller decides whether there is one. The
// clock is given, so tests can drive the time.
class ProgressLine
{
public:
    typedef std::function<double()> Clock; // seconds, monotonic

    static constexpr double Interval = 0.25;

    ProgressLine(FILE* out, const std::string& label, const Clock& clock = steadySeconds);

    void update(uint64_t done, uint64_t total);
    // Shows the last count if it was not shown yet and ends the line; nothing when
    // nothing was shown.
    void finish();

    static double steadySeconds();

private:
    void show();

    FILE* out;
    std::string label;
    Clock clock;
    uint64_t done = 0;
    uint64_t total = 0;
    bool shown = false;  // the line exists
    bool current = true; // it shows the last update
    double shownAt = 0;
};
