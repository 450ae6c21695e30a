// Live output in virtual time: the output engine with a stand-in sound card that
// takes 128 frames every 128/44100 s of a virtual clock, paced as each audio-out
// method paces it. The test plays the pacing thread (1 ms), the SIGALRM timer
// (10 ms) or the host calling SPUasync once per emulated 1/60 s, at virtual times
// with jitter and with stalls, and compares what the card played with what the
// engine renders for the same scene in one go.

#include "vtime/Splices.h"
#include "vtime/StandInDevice.h"
#include "vtime/VirtualClock.h"

#include "audio/AudioOut.h"
#include "audio/CriticalSection.h"
#include "plugin/Exports.h"
#include "plugin/Globals.h"
#include "reverb/Reverb.h"
#include "synth/VagBlock.h"
#include "synth/Voice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace
{
enum class Pacing
{
    Thread = 0,
    Timer = 1,
    SPUasync = 2
};

enum class Stall
{
    None,
    HostHoldsSection, // the host's thread sits inside the critical section
    Descheduled       // the pacing thread (or the whole process) gets no processor
};

struct Scenario
{
    Pacing pacing;
    int ringUnits;
    int asyncMode;
    double hostSpeed; // emulated time per device time, SPUasync only
    Stall stall;
    int stallMs;
    double seconds;
};

const int64_t Ms = 1000000;
const unsigned long CyclesPerVideoFrame = 33868800 / 60;

// Plays silence through every voice so that the decoders hold nothing of an earlier
// scene (the SPU's reset does not clear their history), then resets the SPU.
void settleVoices()
{
    VagBlock::ConfigCacheVagDecode = 0;
    Voice::ConfigFinetune = 0;
    Reverb::ConfigReverbType = 0;
    theSPU.init();
    for (int k = 0; k < 24; ++k)
    {
        theSPU.writeRegister(0x1F801C04 + 16 * k, 0x3FFF);
        theSPU.writeRegister(0x1F801C06 + 16 * k, 0x1000);
    }
    theSPU.writeRegister(0x1F801D88, 0xFFFF);
    theSPU.writeRegister(0x1F801D8A, 0x00FF);
    short frame[2];
    for (int i = 0; i < 64; ++i)
        theSPU.playSound(frame[0], frame[1]);
    theSPU.init();
}

// Voice 0 plays 20 s of pseudo-random ADPCM at 44.1 kHz: no run of 16 frames
// repeats, so every splice shows.
void setUpScene()
{
    settleVoices();
    theSPU.writeRegister(0x1F801DAA, 0xC000); // SPU on, unmuted
    theSPU.writeRegister(0x1F801DA6, 0x0200); // transfer address: byte 0x1000
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> nibble(1, 15); // never 0: no silent frame
    const int blocks = (0x80000 - 0x1000) / 16;
    std::vector<unsigned short> words;
    words.reserve(blocks * 8);
    for (int block = 0; block < blocks; ++block)
    {
        const unsigned flags = block == 0 ? 0x04 : (block == blocks - 1 ? 0x03 : 0x00);
        words.push_back(static_cast<unsigned short>(0x02 | (flags << 8))); // shift 2, no filter
        for (int i = 0; i < 7; ++i)
        {
            const int a = nibble(random), b = nibble(random), c = nibble(random), d = nibble(random);
            words.push_back(static_cast<unsigned short>(a | b << 4 | c << 8 | d << 12));
        }
    }
    theSPU.writeDMAMemory(words.data(), static_cast<int>(words.size()));
    theSPU.writeRegister(0x1F801D80, 0x3FFF); // main volume
    theSPU.writeRegister(0x1F801D82, 0x3FFF);
    theSPU.writeRegister(0x1F801C00, 0x3FFF); // voice 0 volume
    theSPU.writeRegister(0x1F801C02, 0x2FFF);
    theSPU.writeRegister(0x1F801C04, 0x1000); // pitch: 44.1 kHz
    theSPU.writeRegister(0x1F801C06, 0x0200); // start address
    theSPU.writeRegister(0x1F801C08, 0x00FF); // fastest attack, no decay
    theSPU.writeRegister(0x1F801C0A, 0x0000); // sustain held
    theSPU.writeRegister(0x1F801D88, 0x0001); // key on voice 0
}

std::vector<unsigned int> renderScene(unsigned long frames)
{
    setUpScene();
    std::vector<unsigned int> out(frames);
    unsigned long done = 0;
    while (done < frames)
        done += theAudioOut.playSounds(reinterpret_cast<short*>(out.data() + done), frames - done);
    return out;
}

// Stalls of `length`, one in every quarter second, at a random phase.
class Stalls
{
public:
    Stalls(Stall kind, int64_t length, std::mt19937& random) : kind(kind), length(length), random(random) {}
    Stall kind;
    // The end of the stall that covers t, or t when none does.
    int64_t endOf(int64_t t)
    {
        if (kind == Stall::None || length == 0)
            return t;
        const int64_t period = 250 * Ms;
        const int64_t k = t / period;
        while (static_cast<int64_t>(starts.size()) <= k)
        {
            std::uniform_int_distribution<int64_t> phase(0, period - length);
            starts.push_back(static_cast<int64_t>(starts.size()) * period + phase(random));
        }
        const int64_t s = starts[static_cast<size_t>(k)];
        return t >= s && t < s + length ? s + length : t;
    }

private:
    int64_t length;
    std::mt19937& random;
    std::vector<int64_t> starts;
};

struct Outcome
{
    std::vector<unsigned int> captured;
    std::vector<unsigned int> reference;
    size_t queuedSilence = 0; // from the card's start at N/8 to the writer's at N/2
    int sleeps = 0;
    int64_t sleptNs = 0;
};

Outcome play(const Scenario& run)
{
    initCS();
    theConfig.setDefaultValue();
    theConfig.AudioOutMethod = static_cast<int>(run.pacing);
    theConfig.AsyncMode = run.asyncMode;
    theConfig.ReverbType = 0;
    theConfig.updateConfigValue();
    setUpScene();

    VirtualClock clock;
    const unsigned int ringFrames = static_cast<unsigned int>(run.ringUnits) * 256;
    StandInDevice* device = new StandInDevice(ringFrames);
    clock.setBackground([device](int64_t ns) { device->playUntil(ns); });
    theAudioOut.setClock(clock);
    theAudioOut.init(device);
    const unsigned long ticksBefore = theSPU.getCurrentTickCount();
    theAudioOut.start();
    device->playUntil(0);

    std::mt19937 random(static_cast<unsigned>(run.ringUnits * 131 + run.stallMs * 7 + run.asyncMode));
    Stalls stalls(run.stall, run.stallMs * Ms, random);
    const int64_t end = static_cast<int64_t>(run.seconds * 1e9);

    if (run.pacing == Pacing::Thread)
    {
        // The thread's body: a 1 ms sleep (which oversleeps a little), then an update
        // inside the section; a stall holds it up until the stall ends.
        std::uniform_int_distribution<int64_t> oversleep(20000, 300000);
        int64_t next = Ms;
        while (next < end)
        {
            clock.advanceTo(stalls.endOf(next));
            enterCS();
            theAudioOut.updateBuffer();
            leaveCS();
            next = clock.now() + Ms + oversleep(random);
        }
    }
    else if (run.pacing == Pacing::Timer)
    {
        // A 10 ms interval timer delivered with some latency. A tick that finds the
        // host in the section is dropped (the handler sees bInCS); one that finds
        // the process descheduled stays pending until it runs again.
        std::uniform_int_distribution<int64_t> latency(0, 500000);
        int64_t lastDelivered = -1;
        for (int64_t k = 1; k * 10 * Ms < end; ++k)
        {
            const int64_t due = k * 10 * Ms + latency(random);
            const int64_t at = stalls.endOf(due);
            if (at != due && run.stall == Stall::HostHoldsSection)
                continue;
            if (at <= lastDelivered)
                continue; // merged with the signal already pending
            clock.advanceTo(at);
            enterCS();
            theAudioOut.updateBuffer();
            leaveCS();
            lastDelivered = at;
        }
    }
    else
    {
        // One SPUasync per emulated 1/60 s, on a schedule of the host's own that
        // runs hostSpeed times as fast as the card; a call that finds the host
        // stalled, or still inside the previous (Wait sleeps there), comes late.
        std::uniform_int_distribution<int64_t> jitter(-Ms, Ms);
        const double period = 1e9 / 60 / run.hostSpeed;
        for (int64_t k = 1;; ++k)
        {
            int64_t due = static_cast<int64_t>(k * period) + jitter(random);
            if (due < clock.now())
                due = clock.now();
            due = stalls.endOf(due);
            if (due >= end)
                break;
            clock.advanceTo(due);
            SPUasync(CyclesPerVideoFrame);
        }
    }
    clock.advanceTo(end);

    Outcome outcome;
    outcome.captured = device->captured;
    outcome.queuedSilence = ringFrames / 2 - ringFrames / 8;
    outcome.sleeps = clock.sleeps;
    outcome.sleptNs = clock.sleptNs;
    theAudioOut.stop();
    theAudioOut.close();
    theAudioOut.setClock(Clock::wall());
    const unsigned long rendered = theSPU.getCurrentTickCount() - ticksBefore;
    outcome.reference = renderScene(rendered);
    deleteCS();
    theConfig.setDefaultValue();
    theConfig.updateConfigValue();
    return outcome;
}

// Frames and splices of a capture against the reference: the capture must begin
// with at least the queued silence (a start-up correction may lengthen it: what a
// jump forward leaves behind in a new ring is silence too), then continue the
// reference from its first sound.
struct Figures
{
    size_t soundStart = 0;
    size_t matched = 0; // frames equal to the reference from the sound on, before any splice
    size_t compared = 0;
    int splices = 0;
};

Figures measure(const Outcome& o)
{
    Figures f;
    f.soundStart = 0;
    while (f.soundStart < o.captured.size() && o.captured[f.soundStart] == 0)
        ++f.soundStart;
    size_t refStart = 0;
    while (refStart < o.reference.size() && o.reference[refStart] == 0)
        ++refStart;
    const std::vector<unsigned int> reference(o.reference.begin() + static_cast<long>(refStart),
                                              o.reference.end());
    f.compared = o.captured.size() - f.soundStart;
    f.matched = splices::firstDifference(o.captured, f.soundStart, reference);
    f.splices = splices::count(o.captured, f.soundStart, reference);
    if (f.soundStart >= refStart)
        f.soundStart -= refStart;
    return f;
}

const char* pacingName(Pacing p)
{
    return p == Pacing::Thread ? "Thread" : p == Pacing::Timer ? "Timer" : "SPUasync";
}

std::string describe(const Scenario& run)
{
    static const char* const stallNames[] = {"NoStall", "HostInSection", "Descheduled"};
    static const char* const modeNames[] = {"Simple", "Wait", "Smooth"};
    char text[160];
    std::snprintf(text, sizeof(text), "%s_Ring%d_%s_Host%d_%s%dms", pacingName(run.pacing), run.ringUnits,
                  modeNames[run.asyncMode], static_cast<int>(run.hostSpeed * 100 + 0.5),
                  stallNames[static_cast<int>(run.stall)], run.stallMs);
    return text;
}

// The most splices the design allows a run, from the queue the engine keeps:
// the writer starts 3N/8 ahead of the card, and Simple corrects once fewer than
// N/4 frames are queued (jumping to N/2) or more than 3N/4 (back to N/2). A gap
// of g ms between two renders lets the queue sink by g x 44.1 frames plus one
// take of the card (128) and the millisecond floor of the count (44).
// - No splice while the queue's lowest point stays in the band from the start.
// - One, if only the start position is too low: the first correction puts the
//   queue at N/2, from where the gaps no longer reach the band edge.
// - Otherwise at most two for each stall, plus one: an underrun plays stale
//   frames, and when the card ran more than N/4 past the writer no correction
//   follows, so the writer's frames come a lap later (a second break).
int simpleMaxSplices(const Scenario& run, int stalls)
{
    const double n = run.ringUnits * 256.0;
    const double period = run.pacing == Pacing::Thread  ? 1.3
                          : run.pacing == Pacing::Timer ? 10.5
                                                        : 1000.0 / 60 + 1;
    // The first update only takes the time base: Thread and Timer lose one period.
    const double startLoss = run.pacing == Pacing::SPUasync ? 0 : period * 44.1;
    const double gap = period + (run.stall == Stall::None ? 0 : run.stallMs);
    const double dip = gap * 44.1 + 128 + 44;
    if (3 * n / 8 - startLoss - dip >= n / 4)
        return 0;
    if (n / 2 - dip >= n / 4)
        return 1;
    return 2 * stalls + 1;
}
} // namespace

class VirtualTimeOutputTest : public ::testing::TestWithParam<Scenario>
{
};

TEST_P(VirtualTimeOutputTest, CardPlaysTheRenderedFramesWithTheSplicesTheDesignGives)
{
    const Scenario run = GetParam();
    const Outcome o = play(run);
    const Figures f = measure(o);
    const double n = run.ringUnits * 256.0;
    const int stalls = run.stall == Stall::None ? 0 : static_cast<int>(run.seconds * 4);
    // Frames the host's rate leaves over or short against the card's over the run.
    const double drift = std::fabs(run.hostSpeed - 1) / run.hostSpeed * 44100 * run.seconds;

    std::printf("FIGURES %s: splices %d (%.2f/s), exact %zu of %zu frames, start silence %zu, Wait sleeps %d "
                "(%.0f ms)\n",
                describe(run).c_str(), f.splices, f.splices / run.seconds, f.matched, f.compared,
                f.soundStart, o.sleeps, o.sleptNs / 1e6);
    RecordProperty("splices", f.splices);

    ASSERT_GT(f.compared, static_cast<size_t>(run.seconds * 44100 * 0.8))
        << "the card played too little sound";
    EXPECT_GE(f.soundStart, o.queuedSilence) << "sound came before the queued silence was played";

    int maxSplices = 0;
    int minSplices = 0;
    if (run.pacing != Pacing::SPUasync || run.hostSpeed == 1.0)
    {
        // At the card's own rate every mode keeps Simple's queue; Wait and Smooth
        // meet a stall with their own corrections, two at most as above.
        maxSplices = simpleMaxSplices(run, stalls);
        if (run.asyncMode != 0 && stalls != 0)
            maxSplices = 2 * stalls + 1;
    }
    else if (run.asyncMode == 2)
    {
        // Smooth follows a host a few percent off by its rate alone; only stalls
        // push the queue to the band edges.
        maxSplices = stalls == 0 ? 0 : 2 * stalls + 1;
    }
    else if (run.hostSpeed < 1)
    {
        // A slow host leaves the card short: Simple jumps forward, Wait tops up with
        // silence, each time more than N/4 and at most about N/2 plus one call's
        // frames (735) are missing.
        maxSplices = static_cast<int>(drift / (n / 4)) + 1 + 2 * stalls;
        if (stalls == 0)
            minSplices = static_cast<int>(drift / (n / 2 + 735)) - 1;
    }
    else if (run.asyncMode == 0)
    {
        // A fast host overfills: Simple jumps back by more than N/4 each time, or the
        // ring stays full and the surplus time is dropped (no splice).
        maxSplices = static_cast<int>(drift / (n / 4)) + 1 + 2 * stalls;
    }
    else
    {
        // Wait holds a fast host back by sleeping the surplus: no splice.
        maxSplices = stalls == 0 ? 0 : 2 * stalls + 1;
        EXPECT_GT(o.sleptNs, static_cast<int64_t>(drift / 44100 * 1e9 * 0.5)) << "the host was not held back";
    }

    EXPECT_LE(f.splices, maxSplices);
    EXPECT_GE(f.splices, minSplices);
    if (maxSplices == 0)
    {
        EXPECT_EQ(f.matched, f.compared) << "the card's frame " << f.soundStart + f.matched
                                         << " after the start differs from the rendered one";
    }
}

namespace
{
std::vector<Scenario> scenarios()
{
    std::vector<Scenario> runs;
    for (int units : {64, 16, 8})
        for (Pacing p : {Pacing::Thread, Pacing::Timer})
        {
            runs.push_back({p, units, 0, 1.0, Stall::None, 0, 3});
            for (Stall s : {Stall::HostHoldsSection, Stall::Descheduled})
                for (int ms : {10, 20})
                    runs.push_back({p, units, 0, 1.0, s, ms, 3});
        }
    for (int units : {64, 16, 8})
        for (int mode : {0, 1, 2})
            for (double speed : {1.0, 0.95, 1.05})
            {
                runs.push_back({Pacing::SPUasync, units, mode, speed, Stall::None, 0, 10});
                runs.push_back({Pacing::SPUasync, units, mode, speed, Stall::Descheduled, 20, 10});
            }
    return runs;
}

std::string scenarioName(const ::testing::TestParamInfo<Scenario>& info)
{
    return describe(info.param);
}
} // namespace

INSTANTIATE_TEST_SUITE_P(Runs, VirtualTimeOutputTest, ::testing::ValuesIn(scenarios()), scenarioName);
