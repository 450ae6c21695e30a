#include "reverb/revmodel.h"

const int revmodel::CombTuning[CombCount] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
const int revmodel::AllpassTuning[AllpassCount] = {556, 441, 341, 225};

namespace
{
const float InputGain = 0.015f;
const float RoomScale = 0.28f;
const float RoomOffset = 0.7f;
const float DampScale = 0.4f;
const float WetScale = 3.0f;
const float DryScale = 2.0f;
const float FreezeThreshold = 0.5f;
const float MutedGain = 0.0f;
const float AllpassFeedback = 0.5f;
} // namespace

revmodel::revmodel()
{
    float* line = lines;
    for (int i = 0; i < CombCount; ++i)
    {
        leftcombs[i].setbuffer(line, CombTuning[i]);
        line += CombTuning[i];
        rightcombs[i].setbuffer(line, CombTuning[i] + StereoSpread);
        line += CombTuning[i] + StereoSpread;
    }
    for (int i = 0; i < AllpassCount; ++i)
    {
        leftallpasses[i].setbuffer(line, AllpassTuning[i]);
        line += AllpassTuning[i];
        rightallpasses[i].setbuffer(line, AllpassTuning[i] + StereoSpread);
        line += AllpassTuning[i] + StereoSpread;
        leftallpasses[i].setfeedback(AllpassFeedback);
        rightallpasses[i].setfeedback(AllpassFeedback);
    }

    setwet(0.333333f);
    setroomsize(0.75f);
    setdry(0.0f);
    setdamp(0.25f);
    setwidth(1.0f);
    setmode(0.0f);
    mute();
}

// A frozen tail is kept: muting does nothing in freeze mode.
void revmodel::mute()
{
    if (getmode() == 1)
        return;
    for (int i = 0; i < CombCount; ++i)
    {
        leftcombs[i].mute();
        rightcombs[i].mute();
    }
    for (int i = 0; i < AllpassCount; ++i)
    {
        leftallpasses[i].mute();
        rightallpasses[i].mute();
    }
}

template <bool Mix>
void revmodel::process(float* inleft, float* inright, float* outleft, float* outright, long count, int stride)
{
    while (count-- > 0)
    {
        // The mono input is rounded to float before it enters the combs.
        const float input = static_cast<float>((static_cast<double>(*inleft) + *inright) * inputgain);

        double sumL = 0;
        double sumR = 0;
        for (int i = 0; i < CombCount; ++i)
        {
            sumL += leftcombs[i].process(input);
            sumR += rightcombs[i].process(input);
        }
        for (int i = 0; i < AllpassCount; ++i)
        {
            sumL = leftallpasses[i].process(sumL);
            sumR = rightallpasses[i].process(sumR);
        }

        const double left = sumL * wetdirect + sumR * wetcross + static_cast<double>(*inleft) * dry;
        const double right = sumR * wetdirect + sumL * wetcross + static_cast<double>(*inright) * dry;
        if (Mix)
        {
            *outleft = static_cast<float>(*outleft + left);
            *outright = static_cast<float>(*outright + right);
        }
        else
        {
            *outleft = static_cast<float>(left);
            *outright = static_cast<float>(right);
        }

        inleft += stride;
        inright += stride;
        outleft += stride;
        outright += stride;
    }
}

void revmodel::processreplace(float* inleft, float* inright, float* outleft, float* outright, long count,
                              int stride)
{
    process<false>(inleft, inright, outleft, outright, count, stride);
}

void revmodel::processmix(float* inleft, float* inright, float* outleft, float* outright, long count,
                          int stride)
{
    process<true>(inleft, inright, outleft, outright, count, stride);
}

void revmodel::update()
{
    wetdirect = wet * (width / 2 + 0.5f);
    wetcross = wet * ((1 - width) / 2);

    if (mode >= FreezeThreshold)
    {
        roomfeedback = 1;
        combdamp = 0;
        inputgain = MutedGain;
    }
    else
    {
        roomfeedback = roomsize;
        combdamp = damp;
        inputgain = InputGain;
    }

    for (int i = 0; i < CombCount; ++i)
    {
        leftcombs[i].setfeedback(roomfeedback);
        rightcombs[i].setfeedback(roomfeedback);
        leftcombs[i].setdamp(combdamp);
        rightcombs[i].setdamp(combdamp);
    }
}

void revmodel::setroomsize(float value)
{
    roomsize = value * RoomScale + RoomOffset;
    update();
}

float revmodel::getroomsize() const
{
    return (roomsize - RoomOffset) / RoomScale;
}

void revmodel::setdamp(float value)
{
    damp = value * DampScale;
    update();
}

float revmodel::getdamp() const
{
    return damp / DampScale;
}

void revmodel::setwet(float value)
{
    wet = value * WetScale;
    update();
}

float revmodel::getwet() const
{
    return wet / WetScale;
}

void revmodel::setdry(float value)
{
    dry = value * DryScale;
}

float revmodel::getdry() const
{
    return dry * 0.5f;
}

void revmodel::setwidth(float value)
{
    width = value;
    update();
}

float revmodel::getwidth() const
{
    return width;
}

void revmodel::setmode(float value)
{
    mode = value;
    update();
}

float revmodel::getmode() const
{
    return mode >= FreezeThreshold ? 1 : 0;
}
