#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// Where the frames a device played part from the frames rendered in one go for the
// same scene. The scene must make every run of Window frames unique (noise-like
// sound), so that each window of the capture can be located in the reference.
namespace splices
{
const size_t Window = 16;

inline uint64_t hashWindow(const unsigned int* frames)
{
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < Window; ++i)
        h = (h ^ frames[i]) * 1099511628211ull;
    return h;
}

// Index of the first captured frame (from `start` on, against reference frame 0)
// that differs, or the number compared when all agree.
inline size_t firstDifference(const std::vector<unsigned int>& captured, size_t start,
                              const std::vector<unsigned int>& reference)
{
    size_t i = 0;
    while (start + i < captured.size() && i < reference.size() && captured[start + i] == reference[i])
        ++i;
    return i;
}

// The number of splices in captured[start..] against reference[0..]: each point
// where the capture, after frames that continue the reference, next shows a
// reference window that does not continue it. Frames dropped, a stretch of silence
// or of stale frames (a lap old: they sit earlier in the reference) inserted each
// count once, however long.
inline int count(const std::vector<unsigned int>& captured, size_t start,
                 const std::vector<unsigned int>& reference)
{
    if (reference.size() < Window)
        return 0;
    // Hash to reference index; windows that occur twice are of no use.
    std::unordered_map<uint64_t, long> where;
    where.reserve(reference.size());
    for (size_t j = 0; j + Window <= reference.size(); ++j)
    {
        auto found = where.emplace(hashWindow(&reference[j]), static_cast<long>(j));
        if (!found.second)
            found.first->second = -1;
    }
    int spliceCount = 0;
    long lastCaptured = static_cast<long>(start) - 1; // the last frame known to continue
    long lastReference = -1;
    for (size_t i = start; i + Window <= captured.size(); ++i)
    {
        const auto found = where.find(hashWindow(&captured[i]));
        if (found == where.end() || found->second < 0)
            continue;
        const long j = found->second;
        if (j <= lastReference)
            continue; // stale frames of an earlier lap
        bool same = true;
        for (size_t k = 0; k < Window && same; ++k)
            same = captured[i + k] == reference[j + k];
        if (!same)
            continue;
        if (j - lastReference != static_cast<long>(i) - lastCaptured)
            ++spliceCount;
        lastCaptured = static_cast<long>(i);
        lastReference = j;
    }
    return spliceCount;
}
} // namespace splices
