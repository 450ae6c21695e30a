#pragma once

// An independent reference of the CD input stream, written from the description of
// its behaviour rather than from the plugin's code: ring sizing, pre-roll, linear
// resampling with a carried frame, the overrun skip and the underrun repeat, each
// in plain modular arithmetic on a std::vector. Tests feed it and the plugin the
// same chunks and compare the frames they play.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

class StreamModel
{
public:
    bool waitForRoom = false;
    int overruns = 0;
    int repeats = 0;

    // Returns false when waiting for room would hold the chunk back.
    bool queue(const std::vector<short>& chunk, int rate, int channels)
    {
        const int64_t bytes = 2 * static_cast<int64_t>(chunk.size());
        const int64_t need = (bytes * 44100 / rate) * (3 - channels) / 2;
        if (static_cast<int64_t>(ring.size()) != 2 * need)
        {
            ring.assign(static_cast<size_t>(2 * need), 0);
            writePos = readPos = 0;
            fade = 0;
        }
        const int64_t n = static_cast<int64_t>(ring.size());
        const int64_t room = readPos > writePos ? readPos - writePos : readPos - writePos + n;
        if (waitForRoom && need > room)
            return false;

        // Source frame i of this chunk is source[i + 1]; source[0] is the carried frame.
        std::vector<std::pair<int, int>> source;
        if (readPos != writePos)
            source.push_back(carried);
        else
        {
            source.push_back({0, 0});
            phase = 0;
            int64_t silence = (n - static_cast<int64_t>(chunk.size())) / 2;
            silence -= silence % 2;
            for (int64_t i = 0; i < silence; ++i)
                ring[at(writePos + i)] = 0;
            writePos = at(writePos + silence);
        }
        for (size_t i = 0; i + channels <= chunk.size(); i += channels)
            source.push_back({chunk[i], chunk[i + channels - 1]});
        refill = 0;

        const int64_t frames = static_cast<int64_t>(chunk.size()) / channels;
        int64_t frame = phase / 44100;
        do
        {
            const int64_t fraction = phase - frame * 44100;
            const double keep = std::sqrt(static_cast<double>(fade) / n);
            const double take = std::sqrt(1.0 - keep * keep);
            const int left = lerp(source[frame].first, source[frame + 1].first, fraction);
            const int right = lerp(source[frame].second, source[frame + 1].second, fraction);
            ring[writePos] = mix(ring[writePos], keep, left, take);
            ring[writePos + 1] = mix(ring[writePos + 1], keep, right, take);
            if (fade > 0)
                fade -= 2;
            phase += rate;
            frame = phase / 44100;
            writePos = at(writePos + 2);
            if (writePos == readPos)
                overrun();
        } while (frame < frames);
        phase -= frame * 44100;
        carried = source.back();
        return true;
    }

    // The next raw CD frame (what the capture areas receive).
    std::pair<int, int> frame()
    {
        const int64_t n = static_cast<int64_t>(ring.size());
        if (n > 0)
        {
            const int64_t h = span();
            const int64_t quarter = n / 4;
            if (at(writePos - readPos) <= quarter && refill < h / 2)
            {
                const int64_t seam = writePos;
                for (int64_t i = 0; i < h; ++i)
                    ring[at(seam + i)] = ring[at(seam - h + i)];
                writePos = at(seam + h);
                for (int64_t j = 0; j < quarter; j += 2)
                {
                    const double keep = std::sqrt(static_cast<double>(j) / quarter);
                    const double take = std::sqrt(1.0 - keep * keep);
                    for (int e = 0; e < 2; ++e)
                        ring[at(seam - 2 - j + e)] =
                            mix(ring[at(seam - 2 - j + e)], keep, ring[at(seam - h - 2 - j + e)], take);
                }
                refill += h / 2;
                ++repeats;
            }
        }
        if (readPos == writePos)
            return {0, 0};
        const std::pair<int, int> out(ring[readPos], ring[readPos + 1]);
        readPos = at(readPos + 2);
        return out;
    }

    int64_t size() const { return static_cast<int64_t>(ring.size()); }
    int64_t queued() const { return ring.empty() ? 0 : at(writePos - readPos); }

private:
    static int lerp(int s0, int s1, int64_t fraction)
    {
        return s0 + static_cast<int>((s1 - s0) * fraction / 44100);
    }
    static int mix(int old, double keep, int incoming, double take)
    {
        const double v = old * keep + incoming * take;
        return static_cast<int>(std::trunc(std::min(32767.0, std::max(-32768.0, v))));
    }
    int64_t at(int64_t i) const
    {
        const int64_t n = static_cast<int64_t>(ring.size());
        return ((i % n) + n) % n;
    }
    int64_t span() const
    {
        const int64_t h = std::min<int64_t>(static_cast<int64_t>(ring.size()) / 2, 2048);
        return h - h % 2;
    }
    void overrun()
    {
        const int64_t n = static_cast<int64_t>(ring.size());
        const int64_t h = span();
        ++overruns;
        fade = n;
        int64_t p = writePos;
        do
        {
            const double keep = std::sqrt(static_cast<double>(fade) / n);
            const double take = std::sqrt(1.0 - keep * keep);
            for (int e = 0; e < 2; ++e)
                ring[at(p + e)] = mix(ring[at(p + e)], keep, ring[at(p + h + e)], take);
            p = at(p + 2);
            fade -= 2;
        } while (fade > h);
        writePos = p;
    }

    std::vector<int> ring;
    int64_t writePos = 0, readPos = 0, phase = 0, fade = 0, refill = 0;
    std::pair<int, int> carried{0, 0};
};
