#include "realhost/SoundAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

SoundAnalysis::SoundAnalysis(const std::vector<unsigned int>& frames)
{
    left.reserve(frames.size());
    right.reserve(frames.size());
    for (unsigned int cell : frames)
    {
        left.push_back(static_cast<short>(cell & 0xFFFF));
        right.push_back(static_cast<short>(cell >> 16));
    }
}

std::vector<SoundAnalysis::Note> SoundAnalysis::findNotes(int threshold, int minMs, int bridgeMs) const
{
    const size_t window = frames(5);
    const size_t bridge = frames(bridgeMs);
    std::vector<Note> notes;
    bool inNote = false;
    size_t start = 0;
    size_t lastLoud = 0;
    for (size_t w = 0; w + window <= left.size(); w += window)
    {
        int peak = 0;
        for (size_t i = w; i < w + window; ++i)
            peak = std::max(peak, std::abs(left[i]));
        const bool loud = peak > threshold;
        if (loud && !inNote)
        {
            // The onset within the window: the first frame above the threshold.
            start = w;
            while (std::abs(left[start]) <= threshold)
                ++start;
            inNote = true;
        }
        if (loud)
            lastLoud = w + window;
        if (inNote && !loud && w >= lastLoud + bridge)
        {
            inNote = false;
            notes.push_back({start, lastLoud - start, 0, 0.0});
        }
    }
    if (inNote)
        notes.push_back({start, lastLoud - start, 0, 0.0});

    std::vector<Note> kept;
    for (Note note : notes)
    {
        if (note.length < frames(minMs))
            continue;
        for (size_t i = note.start; i < note.start + note.length; ++i)
            note.peak = std::max(note.peak, std::abs(left[i]));
        note.frequency = frequency(note.start + note.length / 5, note.start + note.length * 4 / 5);
        kept.push_back(note);
    }
    return kept;
}

std::vector<size_t> SoundAnalysis::findDropouts(size_t from, size_t to, int quiet, size_t minFrames) const
{
    to = std::min(to, left.size());
    std::vector<size_t> dropouts;
    size_t run = 0;
    for (size_t i = from; i < to; ++i)
    {
        if (std::abs(left[i]) <= quiet && std::abs(right[i]) <= quiet)
        {
            if (++run == minFrames)
                dropouts.push_back(i + 1 - minFrames);
        }
        else
            run = 0;
    }
    return dropouts;
}

std::vector<size_t> SoundAnalysis::findSplices(size_t from, size_t to, int step) const
{
    to = std::min(to, left.size());
    std::vector<size_t> splices;
    for (size_t i = std::max<size_t>(from, 1); i < to; ++i)
        if (std::abs(left[i] - left[i - 1]) > step || std::abs(right[i] - right[i - 1]) > step)
            splices.push_back(i);
    return splices;
}

double SoundAnalysis::rms(size_t from, size_t to) const
{
    to = std::min(to, left.size());
    if (to <= from)
        return 0.0;
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(left[i]) * left[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

double SoundAnalysis::frequency(size_t from, size_t to) const
{
    to = std::min(to, left.size());
    // Between the first and the last rising crossing, so whole periods are counted.
    size_t first = 0;
    size_t last = 0;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i)
        if (left[i - 1] < 0 && left[i] >= 0)
        {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    if (crossings < 2)
        return 0.0;
    return (crossings - 1) * static_cast<double>(Rate) / static_cast<double>(last - first);
}
