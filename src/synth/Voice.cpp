#include "synth/Voice.h"

#include "synth/Mixer.h"
#include "synth/VoiceKernel.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

int Voice::ConfigFinetune = 0;
int Voice::ConfigFinetuneRate = 0;
int Voice::ConfigSPUIRQForceInterruptFlag7 = 0;
int Voice::SpuIRQAddress = 0;
int Voice::SpuIRQCount = 0;
int Voice::NoiseClock = 0;
int Voice::NoiseCount = 0;
int Voice::NoiseState = 1;

Voice::Voice()
    : irqHit(false), pitch(0), startAddress(0), repeatAddress(0), fmMode(0), noiseMode(0), reverbMode(0),
      channelActive(1), position(0), currentAddress(0), prevVoice(nullptr), currentOutput(0)
{
}

Voice::~Voice() {}

void Voice::init()
{
    pitch = startAddress = repeatAddress = 0;
    fmMode = noiseMode = reverbMode = 0;
    position = currentAddress = currentOutput = 0;
    channelActive = 1;
    irqHit = false;
    envelope.stop();
    volumeL = Volume();
    volumeR = Volume();
}

void Voice::setPitch(unsigned short value)
{
    pitch = value;
    if (value > 0x3FFF)
        std::printf("Voice::setPitch over 14bits Pitch=%.4X\n", value);
    // 64-bit product: a rate above one octave times a high pitch passes 32 bits.
    // The bound only bites for rates far outside the dialog's range; it keeps the
    // per-sample pitch modulation sum inside int.
    if (ConfigFinetune != 0)
    {
        const int64_t scaled = (static_cast<int64_t>(pitch) * ConfigFinetuneRate) >> 15;
        pitch = static_cast<int>(scaled > 0x3FFFFFFF ? 0x3FFFFFFF : scaled);
    }
}

void Voice::setKeyOn(int on)
{
    if (on == 0)
        return;
    currentAddress = startAddress & 0xFFFE;
    channelActive = 0;
    processVagHeader();
    decoder.setVagBlock(currentAddress, true);
    position = KeyOnPosition;
    envelope.KeyOn();
    irqHit = false;
}

void Voice::setKeyOff(int off)
{
    if (off == 0)
        return;
    envelope.KeyOff();
    irqHit = false;
}

void Voice::setChannelActive(int value)
{
    channelActive = value;
    if (value != 0)
        envelope.stop();
}

void Voice::setControlNoiseFreq(int bits)
{
    NoiseClock = ((bits & 3) + 4) << ((bits >> 2) + 2);
}

// Loop flags of the block being entered.
void Voice::processVagHeader()
{
    const int flags = VagBlock::getFlag(currentAddress);
    if (flags & VagBlock::LoopStart)
        repeatAddress = currentAddress;
    if (flags & VagBlock::LoopEnd)
        channelActive = 1;
}

bool Voice::moveNextVagPosition()
{
    bool stopped = false;
    if (currentAddress + 1 == SpuIRQAddress)
    {
        ++SpuIRQCount;
        irqHit = true;
    }
    const int flags = VagBlock::getFlag(currentAddress);
    if (flags & VagBlock::LoopEnd)
    {
        repeatAddress &= 0xFFFE;
        currentAddress = repeatAddress;
        if ((flags & VagBlock::LoopRepeat) == 0)
        {
            // The voice falls silent and walks on.
            envelope.stop();
            stopped = true;
        }
        else if (flags == VagBlock::AllLoopFlags && ConfigSPUIRQForceInterruptFlag7 != 0 && irqHit)
        {
            ++SpuIRQCount;
            irqHit = false;
        }
    }
    else
    {
        currentAddress += 2;
    }
    currentAddress &= 0xFFFF;
    return stopped;
}

int Voice::stepFor(int modulatorOutput) const
{
    int step = pitch;
    if (modulated())
    {
        // Modulator: the previous voice's output of this same frame (after its
        // envelope, before its volumes). |m| < 2^31: 16-bit pitch times 16-bit output.
        const int m = static_cast<short>(pitch & 0xFFFF) * modulatorOutput;
        step = pitch + ((m - (m >> 8)) >> 15);
    }
    if (step > MaxStep)
        step = MaxStep;
    else if (step < 0) // cannot happen with 16-bit operands; guards the window index
        step = 0;
    return step;
}

bool Voice::stepSample(int step, bool decode)
{
    if (position + step <= LastPosition)
    {
        position += step;
        return false;
    }
    const bool stopped = enterNextBlock(step);
    if (decode)
        decoder.setVagBlock(currentAddress, false);
    return stopped;
}

void Voice::playSound(Mixer* mixer)
{
    const int step = stepFor(prevVoice != nullptr ? prevVoice->currentOutput : 0);

    if (envelope.getADSRVolume() == 0)
    {
        // Silent: keep walking (loop flags, IRQ hits) without decoding or output.
        irqHit = false;
        stepSample(step, false);
        countHits(1);
        return;
    }

    int s = decoder.getPulse(position);
    stepSample(step, true);
    if (noiseMode != 0)
        s = getCurrentNoiseValue();
    countHits(1);
    volumeL.updateCurrentVolume();
    volumeR.updateCurrentVolume();
    envelope.updateADSRVolume();

    const int out = (s * envelope.getADSRVolume()) >> 15;
    currentOutput = out;
    const int l = (out * volumeL.getCurrentVolume()) >> 14;
    const int r = (out * volumeR.getCurrentVolume()) >> 14;
    mixer->mixSound(l, r, reverbMode);
}

int Voice::framesUnobserved(int frames, const Watch& watch) const
{
    // Sitting on the IRQ address: every sample hits it.
    if (currentAddress == watch.irqAddress)
        return 1;
    const int fastest = modulated() ? MaxStep : stepFor(0);
    if (fastest == 0)
        return frames;

    // The voice moves on by one block or jumps back to its repeat address (a block
    // it entered, or the one it was given), so within `changes` block changes it
    // stays between the lower of the two and the higher plus 2 * changes. Where
    // nothing in that span can be observed, there is nothing to follow. (A span
    // that would wrap past the end of sound RAM ends above any reverbWord.)
    const int changes =
        static_cast<int>((position + static_cast<long long>(fastest) * frames) / BlockSpan) + 1;
    const int lowest = std::min(currentAddress, repeatAddress & 0xFFFE);
    const int highest = std::max(currentAddress, repeatAddress) + 2 * changes;
    const bool irqOutside = watch.irqAddress < lowest || watch.irqAddress > highest + 1;
    if (lowest * 4 >= watch.capturedWords && highest * 4 + 8 <= watch.reverbWord &&
        (watch.irqAddress < 0 || (irqOutside && !watch.forceFlag7)))
        return frames;

    // Follow the blocks the voice enters, as moveNextVagPosition and
    // processVagHeader will, at the earliest sample each change can come (exactly
    // then without modulation). Only blocks nobody writes are followed past frame 0,
    // so their flags are the ones the voice will read.
    int bound = frames;
    int address = currentAddress;
    int repeat = repeatAddress;
    int flags = VagBlock::getFlag(address);
    bool written = watch.written(address);
    for (long long change = 1;; ++change)
    {
        const long long distance = change * BlockSpan - position;
        const int k = distance <= 0 ? 0 : static_cast<int>((distance + fastest - 1) / fastest) - 1;
        if (k >= bound)
            return bound;

        // Leaving the block reads its flags, entering the next one its flags and samples.
        if (written)
            bound = std::min(bound, std::max(k, 1));
        if (watch.irqAddress >= 0 &&
            (address + 1 == watch.irqAddress || (flags == VagBlock::AllLoopFlags && watch.forceFlag7)))
            bound = std::min(bound, k + 1);

        if (flags & VagBlock::LoopEnd)
        {
            repeat &= 0xFFFE;
            address = repeat;
        }
        else
        {
            address += 2;
        }
        address &= 0xFFFF;
        flags = VagBlock::getFlag(address);
        if (flags & VagBlock::LoopStart)
            repeat = address;
        written = watch.written(address);
        if (written)
            bound = std::min(bound, std::max(k, 1));
        if (address == watch.irqAddress)
            bound = std::min(bound, k + 1);
    }
}

void Voice::playBlock(int frames, const int* noise, const int* modulator, int* outputs, bool modulates,
                      MixBlock& mix, VoiceBlock& scratch)
{
    int sounding = 0;
    if (envelope.getADSRVolume() != 0)
    {
        // The envelope runs on its own until it reaches 0; a loop end without repeat
        // can end it earlier, in the sample that enters the next block.
        scratch.levelHeld = envelope.holds();
        scratch.heldLevel = envelope.getADSRVolume();
        const int stepped = scratch.levelHeld ? frames : envelope.run(frames, scratch.levels);
        bool stopped = false;
        sounding = readSamples(stepped, modulator, scratch, stopped);
        if (stopped)
        {
            if (scratch.levelHeld)
                for (int k = 0; k < sounding; ++k)
                    scratch.levels[k] = scratch.heldLevel;
            scratch.levelHeld = false;
            envelope.stoppedInLastStep();
            scratch.levels[sounding - 1] = 0;
        }
        if (noiseMode != 0)
            for (int k = 0; k < sounding; ++k)
                scratch.samples[k] = noise[k];
        scratch.volumesFixed = !volumeL.sweeps() && !volumeR.sweeps();
        scratch.fixedVolumeL = volumeL.getCurrentVolume();
        scratch.fixedVolumeR = volumeR.getCurrentVolume();
        if (!scratch.volumesFixed)
        {
            volumeL.run(sounding, scratch.volumeL);
            volumeR.run(sounding, scratch.volumeR);
        }
        VoiceKernel::scaleAndMix(sounding, scratch, outputs, mix, reverbMode == 1);
        currentOutput = outputs[sounding - 1];
    }
    if (sounding == frames)
        return;
    walkSilent(sounding, frames, modulator);
    // A silent voice's output stays the last one it had.
    if (modulates)
        for (int k = sounding; k < frames; ++k)
            outputs[k] = currentOutput;
}

int Voice::stepsInBlock(int step, int frames) const
{
    return step == 0 ? frames : std::min(frames, (LastPosition - position) / step);
}

bool Voice::enterNextBlock(int step)
{
    position += step;
    const bool stopped = moveNextVagPosition();
    processVagHeader();
    position -= BlockSpan;
    return stopped;
}

// At one step the samples lie at equal distances through the windows of the blocks
// entered: the block changes are followed first, each appending its block to the
// run of windows, then all samples are read from the run in one pass.
int Voice::readSamples(int frames, const int* modulator, VoiceBlock& scratch, bool& stopped)
{
    if (modulated() || !decoder.canRun())
        return readSamplesWindowByWindow(frames, modulator, scratch.samples, stopped);

    stopped = false;
    const int step = stepFor(0);
    const int start = position;
    int* lastWindow = scratch.run;
    decoder.beginRun(lastWindow);
    int k = 0;
    while (k < frames)
    {
        const int inside = stepsInBlock(step, frames - k);
        position += inside * step;
        countHits(inside);
        k += inside;
        if (k == frames)
            break;
        ++k;
        stopped = enterNextBlock(step);
        decoder.appendBlock(currentAddress, lastWindow);
        lastWindow += VagBlock::BlockSamples;
        countHits(1);
        if (stopped)
            break;
    }
    const int last = start + (k - 1) * step;
    VoiceKernel::interpolate(scratch.run, k, start, step, scratch.samples);
    decoder.endRun(lastWindow, scratch.run[(last >> 12) + 1]);
    return k;
}

// Under modulation the step changes every sample: one window at a time.
int Voice::readSamplesWindowByWindow(int frames, const int* modulator, int* samples, bool& stopped)
{
    stopped = false;
    int k = 0;
    while (k < frames)
    {
        const int step = stepAt(modulator, k);
        samples[k++] = decoder.getPulse(position);
        stopped = stepSample(step, true);
        countHits(1);
        if (stopped)
            break;
    }
    return k;
}

void Voice::walkSilent(int from, int frames, const int* modulator)
{
    int k = from;
    while (k < frames)
    {
        const int step = stepAt(modulator, k);
        int inside;
        if (modulated())
            inside = position + step > LastPosition ? 0 : 1;
        else
            inside = stepsInBlock(step, frames - k);
        if (inside > 0)
        {
            position += inside * step;
            irqHit = false;
            countHits(inside);
            k += inside;
            continue;
        }
        irqHit = false;
        enterNextBlock(step);
        countHits(1);
        ++k;
    }
}

namespace
{
// One shift of the noise generator's 32-bit register.
unsigned int shiftedNoise(unsigned int state)
{
    const unsigned int feedback = ((state >> 31) ^ (state >> 21) ^ (state >> 1) ^ state) & 1;
    return (state << 1) | feedback;
}

// The 20-bit counter (count * 2) bit-reversed: swap halves, bytes, nibbles, pairs
// and bits of the 32-bit word, then drop the 12 bits that came from above bit 19.
unsigned int reversedNoiseCount(int count)
{
    unsigned int r = (static_cast<unsigned int>(count) * 2) & 0xFFFFF;
    r = (r >> 16) | (r << 16);
    r = ((r >> 8) & 0x00FF00FFu) | ((r & 0x00FF00FFu) << 8);
    r = ((r >> 4) & 0x0F0F0F0Fu) | ((r & 0x0F0F0F0Fu) << 4);
    r = ((r >> 2) & 0x33333333u) | ((r & 0x33333333u) << 2);
    r = ((r >> 1) & 0x55555555u) | ((r & 0x55555555u) << 1);
    return r >> 12;
}
} // namespace

void Voice::UpdateNoise()
{
    if (static_cast<int>(reversedNoiseCount(NoiseCount)) < NoiseClock)
        NoiseState = static_cast<int>(shiftedNoise(static_cast<unsigned int>(NoiseState)));
    NoiseCount = static_cast<int>(static_cast<unsigned int>(NoiseCount) + 1);
}

void Voice::UpdateNoise(int frames, int* values)
{
    // The reversed value is the counter's low 19 bits in reverse order (bit i at
    // 18 - i). Adding 1 flips the counter's trailing ones and the zero above them:
    // in the reversed value, the same number of bits from the top.
    unsigned int count = static_cast<unsigned int>(NoiseCount);
    unsigned int reversed = reversedNoiseCount(NoiseCount);
    unsigned int state = static_cast<unsigned int>(NoiseState);
    for (int k = 0; k < frames; ++k)
    {
        if (static_cast<int>(reversed) < NoiseClock)
            state = shiftedNoise(state);
        values[k] = static_cast<short>(state >> 16);
        const unsigned int zeros = ~count & 0x7FFFF;
        if (zeros == 0)
        {
            reversed = 0; // all 19 bits were ones
        }
        else
        {
            const int flipped = __builtin_ctz(zeros) + 1;
            reversed ^= ((1u << flipped) - 1) << (19 - flipped);
        }
        ++count;
    }
    NoiseCount = static_cast<int>(count);
    NoiseState = static_cast<int>(state);
}
