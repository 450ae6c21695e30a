#pragma once

// The project's demo tune (demo/demo.script and its instruments) cut into short
// scenes of calls: the seeds of the fuzz targets and the settings target's scene.

#include "fuzz/CallSequence.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz
{
struct DemoStep
{
    enum Kind
    {
        Write,
        Upload, // the instruments, by DMA at the transfer address written before
        Render,
    };
    Kind kind;
    uint32_t address;
    uint16_t value;
    int frames;
};

// The tune's steps; the set-up is everything before the first render.
const std::vector<DemoStep>& demoSteps();
size_t demoSetupEnd();

// Writes the set-up, then the steps [from, to) of the tune with every render cut
// to at most maxFrames frames. The set-up uploads the first uploadWords words of
// the instruments (2048 hold the three that the opening plays; 0 leaves them out,
// for a caller that puts them into sound RAM itself).
const size_t AllInstruments = ~size_t(0);
void writeDemo(CallWriter& writer, size_t from, size_t to, int maxFrames,
               size_t uploadWords = AllInstruments);
// Copies the instruments into sound RAM where the tune uploads them.
void placeDemoInstruments();
} // namespace fuzz
