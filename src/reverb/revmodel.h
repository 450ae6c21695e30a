#pragma once

#include "reverb/allpass.h"
#include "reverb/comb.h"

// The Freeverb reverb: eight parallel comb filters per channel fed with the mono sum
// of the input, then four all-pass filters in series per channel; the right channel's
// lines are 23 samples longer for stereo spread. All 24 delay lines live inside the
// object (25450 floats), so processing allocates nothing. Sums run in double and are
// rounded to float when stored.
class revmodel
{
public:
    static constexpr int CombCount = 8;
    static constexpr int AllpassCount = 4;
    static constexpr int StereoSpread = 23;
    static const int CombTuning[CombCount];       // left lengths at 44100 Hz
    static const int AllpassTuning[AllpassCount]; // left lengths at 44100 Hz
    static constexpr int LineStorage = 25450;

    revmodel();

    void mute();
    void processreplace(float* inleft, float* inright, float* outleft, float* outright, long count,
                        int stride);
    void processmix(float* inleft, float* inright, float* outleft, float* outright, long count, int stride);
    void update();

    void setroomsize(float value);
    float getroomsize() const;
    void setdamp(float value);
    float getdamp() const;
    void setwet(float value);
    float getwet() const;
    void setdry(float value);
    float getdry() const;
    void setwidth(float value);
    float getwidth() const;
    void setmode(float value);
    float getmode() const;

    // Views for tests.
    const comb& getcomb(int channel, int index) const
    {
        return channel == 0 ? leftcombs[index] : rightcombs[index];
    }
    float getwetdirect() const { return wetdirect; }
    float getwetcross() const { return wetcross; }
    float getinputgain() const { return inputgain; }

private:
    template <bool Mix>
    void process(float* inleft, float* inright, float* outleft, float* outright, long count, int stride);

    float inputgain = 0;
    float roomsize = 0;
    float roomfeedback = 0;
    float damp = 0;
    float combdamp = 0;
    float wet = 0;
    float wetdirect = 0;
    float wetcross = 0;
    float dry = 0;
    float width = 0;
    float mode = 0;

    comb leftcombs[CombCount];
    comb rightcombs[CombCount];
    allpass leftallpasses[AllpassCount];
    allpass rightallpasses[AllpassCount];

    // The delay lines, one after another: comb 1 left, comb 1 right, ..., comb 8 right,
    // then all-pass 1 left, all-pass 1 right, ..., all-pass 4 right.
    float lines[LineStorage];
};
