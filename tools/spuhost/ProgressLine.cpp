#include "spuhost/ProgressLine.h"

#include <chrono>

ProgressLine::ProgressLine(FILE* stream, const std::string& text, const Clock& time)
    : out(stream), label(text), clock(time)
{
}

double ProgressLine::steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void ProgressLine::update(uint64_t framesDone, uint64_t framesTotal)
{
    done = framesDone;
    total = framesTotal;
    current = false;
    const double time = clock();
    if (!shown || time - shownAt >= Interval)
    {
        shownAt = time;
        show();
    }
}

void ProgressLine::finish()
{
    if (!shown)
        return;
    if (!current)
        show();
    std::fputc('\n', out);
    std::fflush(out);
    shown = false;
}

void ProgressLine::show()
{
    const double percent =
        total != 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0;
    std::fprintf(out, "\r%s: %llu of %llu frames (%.1f%%)", label.c_str(),
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), percent);
    std::fflush(out);
    shown = true;
    current = true;
}
