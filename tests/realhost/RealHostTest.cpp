// The plugin in a real emulator: PCSX-Reloaded runs a PlayStation program, built
// here from tests/realhost/spuprogram.c, that drives the sound processor as a
// game's driver does. The plugin's own output is captured by a stand-in sound card
// (a FUSE file that takes its writes a period at a time at 44100 frames a second),
// through OSS (the card's file is /dev/dsp only inside the emulator's private mount
// namespace) or through SDL (its disk driver writing into the card's file), and
// judged as a listener would: the four notes in order, each at its pitch and
// length, the reverb tail after the last one, no dropout and no splice; and the
// program's own checks must all pass. The emulator is stopped with SIGINT, as
// Ctrl-C does, and must not crash on the way out.

#include "XServer.h"
#include "realhost/EmulatorRun.h"
#include "realhost/SoundAnalysis.h"
#include "support/MachinePauses.h"
#include "support/ScratchDir.h"
#include "support/SettingsFile.h"
#include "support/SoundCardFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace
{
const std::string SourceDir = SPU_SOURCE_DIR "/tests/realhost";

// The program's notes: pitch registers over a sine of 28 samples a period, each
// NoteMs long (the program's own constants).
const unsigned PitchRegisters[4] = {0x0400, 0x0600, 0x0800, 0x0B00};
const double NoteMs = 400;
const double ReleaseMs = 46;
// How far a line of the program's output may arrive late, on a busy machine.
const double LineJitterMs = 50;
// A pause of the whole machine this long can make a small ring's queue leave its
// correction band (a quarter of 16 units is 23 ms, less the card's 12 ms period).
const double MinPauseMs = 8;

double noteFrequency(unsigned pitch)
{
    return 44100.0 * pitch / 4096.0 / 28.0;
}

bool have(const char* program)
{
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

struct Scenario
{
    bool oss;
    // The settings file's text; null: no file at all (the defaults).
    const char* settings;
};

struct Capture
{
    std::vector<unsigned int> frames;
    // From the program's printed key-on of each note to its onset in the capture.
    std::vector<double> latencyMs;
    // Wall-clock times at which the program's key-on and key-off lines arrived,
    // in ms from the first (the emulator's pace sets them, not the program's).
    std::vector<double> onMs;
    std::vector<double> offMs;
    std::string output;
    int status = 0;
    bool killed = false;
    bool finished = false;
    int stalls = 0;
    // Where the capture may show what a standing machine does to any output: from
    // a pause's start to as long after its end as the sound takes to be heard.
    struct Window
    {
        size_t from;
        size_t to;
    };
    std::vector<Window> paused;
    size_t pauses = 0;
    double longestPauseMs = 0;

    // The glitches outside the machine's pauses; `excused` counts the others.
    size_t unexcused(const std::vector<size_t>& glitches, size_t* excused) const
    {
        size_t count = 0;
        for (size_t at : glitches)
        {
            bool inPause = false;
            for (const Window& w : paused)
                inPause = inPause || (at >= w.from && at <= w.to);
            if (inPause)
                ++*excused;
            else
                ++count;
        }
        return count;
    }
};

std::string describeExit(int status)
{
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    return "exit status " + std::to_string(WEXITSTATUS(status));
}

bool crashed(int status)
{
    if (WIFSIGNALED(status))
        return WTERMSIG(status) == SIGSEGV || WTERMSIG(status) == SIGABRT || WTERMSIG(status) == SIGBUS ||
               WTERMSIG(status) == SIGFPE || WTERMSIG(status) == SIGILL || WCOREDUMP(status);
    return false;
}

// With method 2 the emulator's cycles pace the output, and an emulator running a
// few per cent slower than real time drains the queue until the "Simple" mode's
// cursor jump (a dropout and a splice); "Smooth" follows the emulator's rate.
// A negative bufferSize leaves its line out.
std::string settingsFile(int device, int bufferSize, int method, int asyncMode = 0)
{
    return settingsText({{"AudioDevice", device},
                         {"SoundBufferSize", bufferSize >= 0 ? bufferSize : OmitSetting},
                         {"AudioOutMethod", method},
                         {"AsyncMode", asyncMode}});
}
// Mounts the stand-in card in `scratch` for the device the scenario plays through.
// The OSS writer finds it as /dev/dsp (EmulatorRun binds it there); SDL's disk
// driver writes to it by path, with no delay of its own: the card's pace is the
// only one.
bool attachCard(const std::string& scratch, bool oss, SoundCardFile* card,
                std::vector<std::string>* environment)
{
    const std::string folder = scratch + "/card";
    mkdir(folder.c_str(), 0700);
    std::string error;
    if (!card->mount(folder, oss ? SoundCardFile::Oss : SoundCardFile::Sdl, &error))
    {
        ADD_FAILURE() << error;
        return false;
    }
    if (!oss)
        *environment = {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + card->path(), "SDL_DISKAUDIODELAY=0"};
    return true;
}
} // namespace

class RealHostTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!have("pcsxr") && access("/usr/games/pcsxr", X_OK) != 0)
            skipReason = "pcsxr is not installed (scripts/setup-deps.sh installs it)";
        else if (!have("mipsel-linux-gnu-gcc"))
            skipReason = "gcc-mipsel-linux-gnu is not installed (scripts/setup-deps.sh installs it)";
        if (!skipReason.empty())
            return;
        buildFolder.reset(new ScratchDir(ScratchDir::StayPut, "realhost"));
        const std::string buildDir = buildFolder->path();
        program = buildDir + "/spuprogram.exe";
        const std::string command = "'" + SourceDir + "/make-psexe.sh' '" + program + "' '" + SourceDir +
                                    "/crt0.S' '" + SourceDir + "/spuprogram.c'";
        buildFailed = std::system(command.c_str()) != 0;
        std::string error;
        if (sharedXServer(&error) == nullptr)
            skipReason = error;
        mkdir((buildDir + "/card").c_str(), 0700);
        SoundCardFile probe;
        if (!probe.mount(buildDir + "/card", SoundCardFile::Oss, &error))
            skipReason =
                error + ": the stand-in sound card is a FUSE file (scripts/setup-deps.sh installs fuse3)";
    }

    static void TearDownTestSuite() { buildFolder.reset(); }

    void SetUp() override
    {
        if (!skipReason.empty())
            GTEST_SKIP() << skipReason;
        ASSERT_FALSE(buildFailed) << "the PlayStation program did not build";
    }

    // OSS runs need a private mount namespace, hence root.
    bool ossPossible() { return geteuid() == 0 && have("unshare"); }

    // Runs the program to its end, lets the last reverb tail reach the capture,
    // then stops the emulator with SIGINT.
    Capture run(const Scenario& scenario)
    {
        Capture capture;
        const ScratchDir folder(ScratchDir::StayPut, "realhost");
        const std::string scratch = folder.path();
        mkdir((scratch + "/home").c_str(), 0700);
        {
            EmulatorRun emulator(scratch + "/home", SPU_PLUGIN_PATH);
            if (scenario.settings != nullptr)
                emulator.writePluginSettings(scenario.settings);
            SoundCardFile card;
            std::vector<std::string> environment;
            EXPECT_TRUE(attachCard(scratch, scenario.oss, &card, &environment));
            MachinePauses watch(MinPauseMs);
            watch.start();
            EXPECT_TRUE(emulator.start(program, scenario.oss ? card.path() : "", environment));
            capture.finished = emulator.waitForLine("DONE", 30000);
            // What was rendered last is still queued: the ring's half and the
            // driver's buffer, at most about 400 ms with the default ring.
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            emulator.interrupt();
            capture.status = emulator.waitForExit(10000);
            capture.killed = emulator.killedAfterDeadline();
            capture.output = emulator.getOutput();
            capture.frames = card.finish();
            capture.stalls = card.getStalls();
            const std::vector<MachinePauses::Pause> pauses = watch.stop();
            std::chrono::steady_clock::time_point first;
            if (emulator.lineTime("NOTE 0 ON", &first))
                for (int i = 0; i < 4; ++i)
                {
                    std::chrono::steady_clock::time_point on, off;
                    if (!emulator.lineTime("NOTE " + std::to_string(i) + " ON", &on) ||
                        !emulator.lineTime("NOTE " + std::to_string(i) + " OFF", &off))
                        break;
                    capture.onMs.push_back(std::chrono::duration<double, std::milli>(on - first).count());
                    capture.offMs.push_back(std::chrono::duration<double, std::milli>(off - first).count());
                }
            const SoundAnalysis sound(capture.frames);
            const std::vector<SoundAnalysis::Note> notes = sound.findNotes(1500, 100, 20);
            for (size_t i = 0; i < notes.size() && i < 4; ++i)
            {
                std::chrono::steady_clock::time_point printed;
                if (!emulator.lineTime("NOTE " + std::to_string(i) + " ON", &printed))
                    continue;
                const double heard = SoundAnalysis::ms(notes[i].start);
                capture.latencyMs.push_back(
                    heard - std::chrono::duration<double, std::milli>(printed - card.getBegin()).count());
            }
            notePauses(pauses, card.getBegin(), &capture);
        }
        return capture;
    }

    // The capture's windows of each machine pause: from a little before it to as
    // long after it as rendered sound took to be heard (the longest latency seen,
    // or a whole second when no note was heard).
    static void notePauses(const std::vector<MachinePauses::Pause>& pauses,
                           std::chrono::steady_clock::time_point begin, Capture* capture)
    {
        double latencyMs = capture->latencyMs.empty() ? 1000 : 0;
        for (double ms : capture->latencyMs)
            latencyMs = std::max(latencyMs, ms);
        for (const MachinePauses::Pause& pause : pauses)
        {
            ++capture->pauses;
            capture->longestPauseMs = std::max(capture->longestPauseMs, pause.ms);
            const double atMs = std::chrono::duration<double, std::milli>(pause.start - begin).count();
            const double fromMs = atMs - 20;
            const double toMs = atMs + pause.ms + latencyMs + 50;
            if (toMs > 0)
                capture->paused.push_back(
                    {SoundAnalysis::frames(std::max(fromMs, 0.0)), SoundAnalysis::frames(toMs)});
        }
    }

    // The listener's judgement, plus the program's own checks.
    void expectProgramHeard(const Capture& capture)
    {
        SCOPED_TRACE(capture.output);
        EXPECT_TRUE(capture.finished) << "the program did not print DONE";
        EXPECT_FALSE(crashed(capture.status)) << describeExit(capture.status);
        EXPECT_FALSE(capture.killed) << "the emulator did not end within 10 s of SIGINT";
        EXPECT_NE(capture.output.find("RESULT PASS"), std::string::npos);
        EXPECT_EQ(capture.output.find(" FAIL"), std::string::npos);

        const SoundAnalysis sound(capture.frames);
        const std::vector<SoundAnalysis::Note> notes = sound.findNotes(1500, 100, 20);
        size_t excused = 0;
        ASSERT_EQ(notes.size(), 4u) << "notes heard in " << SoundAnalysis::ms(sound.size()) << " ms of sound";
        ASSERT_EQ(capture.onMs.size(), 4u) << "the program's key-on and key-off lines";
        int loudest = 0;
        for (const SoundAnalysis::Note& note : notes)
            loudest = std::max(loudest, note.peak);
        for (size_t i = 0; i < notes.size(); ++i)
        {
            const SoundAnalysis::Note& note = notes[i];
            SCOPED_TRACE("note " + std::to_string(i) + " at " +
                         std::to_string(SoundAnalysis::ms(note.start)) + " ms");
            EXPECT_NEAR(note.frequency, noteFrequency(PitchRegisters[i]),
                        noteFrequency(PitchRegisters[i]) * 0.01);
            // As long as the key was held (the emulator's pace, seen in the program's
            // lines) plus most of the release; the last note runs on into its tail.
            const double lengthMs = SoundAnalysis::ms(note.length);
            const double heldMs = capture.offMs[i] - capture.onMs[i];
            EXPECT_GT(heldMs, NoteMs * 0.9);
            if (i < 3)
                EXPECT_NEAR(lengthMs, heldMs + ReleaseMs / 2, LineJitterMs);
            else
                EXPECT_GT(lengthMs, heldMs + ReleaseMs);
            if (i > 0)
            {
                const double gapMs = SoundAnalysis::ms(note.start - notes[i - 1].start);
                EXPECT_NEAR(gapMs, capture.onMs[i] - capture.onMs[i - 1], LineJitterMs);
            }
            // Inside the held part of the note, no run of silence.
            const size_t from = note.start + SoundAnalysis::frames(20);
            const size_t to = note.start + SoundAnalysis::frames(heldMs - 20);
            EXPECT_EQ(capture.unexcused(sound.findDropouts(from, to, 64, 32), &excused), 0u);
        }
        // No step anywhere far above what the notes make: the highest note's own
        // steepest step is about a fifth of its peak.
        EXPECT_EQ(capture.unexcused(sound.findSplices(0, sound.size(), loudest * 6 / 10), &excused), 0u);

        // The reverb tail: only the last voice is sent to the reverb. After the dry
        // sound has been released, note 2 leaves silence and note 3 a decaying tail.
        const size_t off2 =
            notes[2].start + SoundAnalysis::frames(capture.offMs[2] - capture.onMs[2] + ReleaseMs + 40);
        const size_t off3 =
            notes[3].start + SoundAnalysis::frames(capture.offMs[3] - capture.onMs[3] + ReleaseMs + 40);
        const double held = sound.rms(notes[3].start + SoundAnalysis::frames(100),
                                      notes[3].start + SoundAnalysis::frames(300));
        const double dryAfter = sound.rms(off2, off2 + SoundAnalysis::frames(100));
        const double tailEarly = sound.rms(off3, off3 + SoundAnalysis::frames(100));
        const double tailLate =
            sound.rms(off3 + SoundAnalysis::frames(500), off3 + SoundAnalysis::frames(600));
        EXPECT_LT(dryAfter, held * 0.002) << "note 2 rings on";
        EXPECT_GT(tailEarly, held * 0.01) << "no reverb tail after note 3";
        EXPECT_LT(tailLate, tailEarly * 0.7) << "the reverb tail does not decay";
        std::printf(
            "notes at %.0f %.0f %.0f %.0f ms, %.1f %.1f %.1f %.1f Hz, lengths %.0f %.0f %.0f ms, "
            "peak %d, tail %.1f -> %.1f (held %.1f), card stalls %d, machine pauses %zu (longest %.0f ms), "
            "glitches in them %zu\n",
            SoundAnalysis::ms(notes[0].start), SoundAnalysis::ms(notes[1].start),
            SoundAnalysis::ms(notes[2].start), SoundAnalysis::ms(notes[3].start), notes[0].frequency,
            notes[1].frequency, notes[2].frequency, notes[3].frequency, SoundAnalysis::ms(notes[0].length),
            SoundAnalysis::ms(notes[1].length), SoundAnalysis::ms(notes[2].length), loudest, tailEarly,
            tailLate, held, capture.stalls, capture.pauses, capture.longestPauseMs, excused);
    }

    void runAndHear(const Scenario& scenario)
    {
        if (scenario.oss && !ossPossible())
            GTEST_SKIP() << "the OSS capture needs root (a private mount namespace for /dev/dsp)";
        expectProgramHeard(run(scenario));
    }

    static std::string skipReason;
    static std::unique_ptr<ScratchDir> buildFolder;
    static std::string program;
    static bool buildFailed;
};

std::string RealHostTest::skipReason;
std::unique_ptr<ScratchDir> RealHostTest::buildFolder;
std::string RealHostTest::program;
bool RealHostTest::buildFailed = false;

TEST_F(RealHostTest, DefaultSettingsThroughOss)
{
    runAndHear({true, nullptr});
}

TEST_F(RealHostTest, OssWithThreadPacing)
{
    const std::string settings = settingsFile(3, 64, 0);
    runAndHear({true, settings.c_str()});
}

TEST_F(RealHostTest, OssWithTimerPacing)
{
    const std::string settings = settingsFile(3, 64, 1);
    runAndHear({true, settings.c_str()});
}

TEST_F(RealHostTest, OssPacedByTheEmulatorsAsyncCalls)
{
    const std::string settings = settingsFile(3, 64, 2, 2);
    runAndHear({true, settings.c_str()});
}

TEST_F(RealHostTest, SdlWithThreadPacing)
{
    const std::string settings = settingsFile(1, 64, 0);
    runAndHear({false, settings.c_str()});
}

TEST_F(RealHostTest, SdlWithTimerPacing)
{
    const std::string settings = settingsFile(1, 64, 1);
    runAndHear({false, settings.c_str()});
}

TEST_F(RealHostTest, SdlPacedByTheEmulatorsAsyncCalls)
{
    const std::string settings = settingsFile(1, 64, 2, 2);
    runAndHear({false, settings.c_str()});
}

// A file without the ring size reads it as 0; the plugin holds it to its least.
TEST_F(RealHostTest, SettingsWithoutSoundBufferSize)
{
    const std::string settings = settingsFile(3, -1, 0);
    runAndHear({true, settings.c_str()});
}

// A small ring, 16 x 256 frames (46 ms queued behind the card's own buffer), for
// each device with the two wall-clock pacing methods. Eight units play without a
// glitch as well on a quiet machine (scripts/realhost-latency.sh), but there the
// queue correction's band, a quarter ring either way, is 11.6 ms, less than the
// pacing thread or SDL's thread may wait for a core on a machine whose every core
// is busy; sixteen units keep this test's verdict independent of the load.
class RealHostSmallRingTest : public RealHostTest, public ::testing::WithParamInterface<std::tuple<bool, int>>
{
};

TEST_P(RealHostSmallRingTest, PlaysWithoutAGlitch)
{
    const bool oss = std::get<0>(GetParam());
    const std::string settings = settingsFile(oss ? 3 : 1, 16, std::get<1>(GetParam()));
    runAndHear({oss, settings.c_str()});
}

INSTANTIATE_TEST_SUITE_P(SixteenUnits, RealHostSmallRingTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(0, 1)),
                         [](const ::testing::TestParamInfo<std::tuple<bool, int>>& info) {
                             return std::string(std::get<0>(info.param) ? "Oss" : "Sdl") +
                                    (std::get<1>(info.param) == 0 ? "Thread" : "Timer");
                         });

// Ctrl-C while the program plays, at moments spread over start-up, the notes and
// the tail, on every device and pacing method in turn: the emulator's handler
// closes and unloads the plugins, and must never find the plugin in its way.
TEST_F(RealHostTest, InterruptedEmulatorNeverCrashes)
{
    const int runs = 16;
    int crashes = 0;
    for (int i = 0; i < runs; ++i)
    {
        const bool oss = ossPossible() && i % 2 == 0;
        const int method = (i / 2) % 3;
        const int delayMs = (i * 397) % 3300;
        SCOPED_TRACE("run " + std::to_string(i) + (oss ? ": OSS" : ": SDL") + ", method " +
                     std::to_string(method) + ", SIGINT " + std::to_string(delayMs) +
                     " ms after the program started");
        const ScratchDir folder(ScratchDir::StayPut, "realhost");
        const std::string scratch = folder.path();
        mkdir((scratch + "/home").c_str(), 0700);
        {
            EmulatorRun emulator(scratch + "/home", SPU_PLUGIN_PATH);
            emulator.writePluginSettings(settingsFile(oss ? 3 : 1, 64, method));
            SoundCardFile card;
            std::vector<std::string> environment;
            ASSERT_TRUE(attachCard(scratch, oss, &card, &environment));
            ASSERT_TRUE(emulator.start(program, oss ? card.path() : "", environment));
            EXPECT_TRUE(emulator.waitForLine("START", 20000)) << emulator.getOutput();
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            // The plugin's own threads never take the host's Ctrl-C: a handler run
            // there would close and unload the plugin from under that very thread.
            int pluginThreads = 0;
            for (const EmulatorRun::ThreadMask& thread : emulator.threadMasks())
            {
                if (thread.name.compare(0, 4, "spu-") != 0)
                    continue;
                ++pluginThreads;
                EXPECT_NE(thread.blocked & (1ull << (SIGINT - 1)), 0u) << thread.name << " takes SIGINT";
                EXPECT_NE(thread.blocked & (1ull << (SIGTERM - 1)), 0u) << thread.name << " takes SIGTERM";
            }
            // The OSS writer, or the pacing thread of the "Thread" method.
            if (oss || method == 0)
            {
                EXPECT_GT(pluginThreads, 0);
            }
            emulator.interrupt();
            const int status = emulator.waitForExit(10000);
            EXPECT_FALSE(crashed(status)) << describeExit(status) << "\n" << emulator.getOutput();
            EXPECT_FALSE(emulator.killedAfterDeadline()) << "no exit within 10 s of SIGINT\n"
                                                         << emulator.getOutput();
            crashes += crashed(status) ? 1 : 0;
            card.finish();
        }
    }
    std::printf("%d runs stopped with SIGINT, %d crashed\n", runs, crashes);
}

// The latency table (scripts/realhost-latency.sh; skipped unless REALHOST_LATENCY
// is set): each device, ring size and pacing method once, with the dropouts inside
// the notes, the splices, and the time from the program's key-on to the onset heard.
// SPUasync runs in the "Smooth" mode, as a user pacing by the emulator would pick.
TEST_F(RealHostTest, LatencyTable)
{
    if (getenv("REALHOST_LATENCY") == nullptr)
        GTEST_SKIP() << "set REALHOST_LATENCY=1 (scripts/realhost-latency.sh) for the latency table";
    static const char* const methods[3] = {"Thread", "Timer", "SPUasync"};
    std::printf(
        "dropouts and splices outside the machine's pauses; excused: those inside; pauses: the machine\n"
        "standing still for %.0f ms or more (count, longest); stalls: the card ran dry\n",
        MinPauseMs);
    std::printf(
        "dev  size method   notes dropouts splices excused pauses longest stalls  latency ms (notes 0-3)\n");
    for (bool oss : {true, false})
        for (int size : {64, 16, 8})
            for (int method = 0; method < 3; ++method)
            {
                if (oss && !ossPossible())
                    continue;
                const std::string settings = settingsFile(oss ? 3 : 1, size, method, method == 2 ? 2 : 0);
                const Capture capture = run({oss, settings.c_str()});
                const SoundAnalysis sound(capture.frames);
                const std::vector<SoundAnalysis::Note> notes = sound.findNotes(1500, 100, 20);
                size_t dropouts = 0;
                size_t excused = 0;
                int loudest = 0;
                for (const SoundAnalysis::Note& note : notes)
                {
                    loudest = std::max(loudest, note.peak);
                    dropouts += capture.unexcused(
                        sound.findDropouts(note.start + SoundAnalysis::frames(20),
                                           note.start + SoundAnalysis::frames(NoteMs * 0.85 - 20), 64, 32),
                        &excused);
                }
                const size_t splices =
                    capture.unexcused(sound.findSplices(0, sound.size(), loudest * 6 / 10), &excused);
                std::string latency;
                for (double ms : capture.latencyMs)
                    latency += " " + std::to_string(static_cast<int>(ms + 0.5));
                std::printf("%-4s %4d %-8s %5zu %8zu %7zu %7zu %6zu %7.0f %6d %s%s\n", oss ? "oss" : "sdl",
                            size, methods[method], notes.size(), dropouts, splices, excused, capture.pauses,
                            capture.longestPauseMs, capture.stalls, latency.c_str(),
                            crashed(capture.status) ? "  CRASHED" : "");
                std::fflush(stdout);
            }
}
