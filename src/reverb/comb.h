#pragma once

#include <cstdint>
#include <cstring>

// Freeverb's low-pass-feedback comb filter over a float delay line owned by revmodel.
// Delay outputs and the filter state are flushed to 0 when their exponent field is 0
// (zero or denormal), so a dying tail reaches exact silence at constant cost.
class comb
{
public:
    comb() = default;

    void setbuffer(float* buf, int size)
    {
        buffer = buf;
        length = size;
    }
    void mute() { std::memset(buffer, 0, sizeof(float) * length); }
    void setdamp(float value)
    {
        damp = value;
        undamp = 1 - value;
    }
    float getdamp() const { return damp; }
    void setfeedback(float value) { feedback = value; }
    float getfeedback() const { return feedback; }

    // Products and sums in double, stored as float.
    float process(float input)
    {
        const float output = flushDenormal(buffer[position]);
        lowpass = flushDenormal(
            static_cast<float>(static_cast<double>(output) * undamp + static_cast<double>(lowpass) * damp));
        buffer[position] = static_cast<float>(input + static_cast<double>(lowpass) * feedback);
        if (++position >= length)
            position = 0;
        return output;
    }

    static float flushDenormal(float value)
    {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof(bits));
        return (bits & 0x7F800000u) == 0 ? 0.0f : value;
    }

private:
    float feedback = 0.0f;
    float lowpass = 0.0f;
    float damp = 0.0f;
    float undamp = 0.0f;
    float* buffer = nullptr;
    int length = 0;
    int position = 0;
};
