#pragma once

// What a listener makes of captured output: 44100 Hz stereo frames (one 32-bit cell
// each, left in the low half). The notes are the stretches where the left channel's
// level (its peak over 5 ms windows) stays above a threshold; each gets its onset,
// length, peak and pitch (from the zero-crossing rate over its middle). Dropouts
// are runs of near-silence inside a stretch that should sound; splices are
// sample-to-sample steps far above what the notes themselves make.

#include <cstddef>
#include <vector>

class SoundAnalysis
{
public:
    struct Note
    {
        size_t start;  // frame of the onset
        size_t length; // frames until the level falls below the threshold
        int peak;      // largest |left| in the note
        double frequency;
    };

    static const int Rate = 44100;

    explicit SoundAnalysis(const std::vector<unsigned int>& frames);

    // Stretches louder than `threshold` for at least minMs; shorter quiet gaps than
    // bridgeMs do not end a stretch, so a dropout does not split a note.
    std::vector<Note> findNotes(int threshold, int minMs, int bridgeMs) const;
    // Where runs of at least minFrames frames with |left| and |right| at most
    // `quiet` begin, between frames `from` and `to`.
    std::vector<size_t> findDropouts(size_t from, size_t to, int quiet, size_t minFrames) const;
    // Frames with a step from the previous one above `step` in either channel,
    // between `from` and `to`.
    std::vector<size_t> findSplices(size_t from, size_t to, int step) const;
    // Root mean square of the left channel between `from` and `to`.
    double rms(size_t from, size_t to) const;
    // Frequency from the rate of rising zero crossings of the left channel.
    double frequency(size_t from, size_t to) const;
    size_t size() const { return left.size(); }

    static size_t frames(double ms) { return static_cast<size_t>(ms * Rate / 1000); }
    static double ms(size_t frames) { return frames * 1000.0 / Rate; }

private:
    std::vector<int> left;
    std::vector<int> right;
};
