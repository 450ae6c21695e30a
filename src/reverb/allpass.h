#pragma once

#include "reverb/comb.h"

#include <cstring>

// Freeverb's all-pass filter over a float delay line owned by revmodel. The input
// and result are carried in double; the delay line stores floats.
class allpass
{
public:
    allpass() = default;

    void setbuffer(float* buf, int size)
    {
        buffer = buf;
        length = size;
    }
    void mute() { std::memset(buffer, 0, sizeof(float) * length); }
    void setfeedback(float value) { feedback = value; }
    float getfeedback() const { return feedback; }

    double process(double input)
    {
        const float delayed = comb::flushDenormal(buffer[position]);
        buffer[position] = static_cast<float>(input + static_cast<double>(delayed) * feedback);
        if (++position >= length)
            position = 0;
        return delayed - input;
    }

private:
    float feedback = 0.0f;
    float* buffer = nullptr;
    int length = 0;
    int position = 0;
};
