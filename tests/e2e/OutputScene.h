#pragma once

// Helpers for the live-output tests: a scratch working directory with a
// configuration file, a scene that keeps one voice sounding, and the comparison of
// what a device captured with what SPUrender gives for the same scene.

#include "spuhost/Plugin.h"
#include "support/ScratchDir.h"
#include "support/SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace outputscene
{
// A fresh directory that becomes the working directory (the plugin reads
// "./cfg/spuTalvane.cfg" from there); removed with its files afterwards.
class WorkDir : public ScratchDir
{
public:
    WorkDir() : ScratchDir(WorkInside, "spuout") { EXPECT_TRUE(ok()) << error(); }
    ~WorkDir() { EXPECT_TRUE(close()) << error(); }

    // The thirteen keys, with no wait for XA room, no reverb and no recording; the
    // others not given keep their defaults.
    void writeConfig(int audioDevice, int soundBufferSize, int audioOutMethod, int asyncMode = 0,
                     int updateBeforeRegisterAccess = 0) const
    {
        EXPECT_EQ(system(("mkdir -p '" + path() + "/cfg'").c_str()), 0);
        const std::string text = settingsText({{"AudioDevice", audioDevice},
                                               {"SoundBufferSize", soundBufferSize},
                                               {"AudioOutMethod", audioOutMethod},
                                               {"AsyncMode", asyncMode},
                                               {"WaitForXABufferIsFree", 0},
                                               {"ReverbType", 0},
                                               {"RecOpt", 0},
                                               {"UpdateBeforeRegisterAccess", updateBeforeRegisterAccess}});
        std::ofstream(file("cfg/spuTalvane.cfg")) << text;
    }
};

// Two ADPCM blocks at byte 0x1000 looping forever, played by voice 0 at 44.1 kHz
// with a fast attack, so the output is never silent once the voice runs.
inline void setUpScene(Plugin& plugin)
{
    plugin.SPUwriteRegister(0x1F801DAA, 0xC000); // SPU on, unmuted
    plugin.SPUwriteRegister(0x1F801DA6, 0x0200); // transfer address: byte 0x1000
    std::vector<unsigned short> blocks;
    // Block 0: loop start; block 1: loop end, repeat. Shift 2, no filter.
    const unsigned char flags[2] = {0x04, 0x03};
    for (int block = 0; block < 2; ++block)
    {
        blocks.push_back(static_cast<unsigned short>(0x02 | (flags[block] << 8)));
        for (int i = 0; i < 7; ++i)
        {
            const unsigned n = static_cast<unsigned>(block * 7 + i);
            // Nibbles 1..15, never 0, so the sound has no silent frames in it.
            const unsigned char b0 =
                static_cast<unsigned char>((1 + n * 3 % 15) | ((1 + (n * 5 + 7) % 15) << 4));
            const unsigned char b1 =
                static_cast<unsigned char>((1 + (n * 7 + 1) % 15) | ((1 + (n * 11 + 3) % 15) << 4));
            blocks.push_back(static_cast<unsigned short>(b0 | (b1 << 8)));
        }
    }
    plugin.SPUwriteDMAMem(blocks.data(), static_cast<int>(blocks.size()));

    plugin.SPUwriteRegister(0x1F801D80, 0x3FFF); // main volume
    plugin.SPUwriteRegister(0x1F801D82, 0x3FFF);
    plugin.SPUwriteRegister(0x1F801C00, 0x3FFF); // voice 0 volume
    plugin.SPUwriteRegister(0x1F801C02, 0x2FFF);
    plugin.SPUwriteRegister(0x1F801C04, 0x1000); // pitch: 44.1 kHz
    plugin.SPUwriteRegister(0x1F801C06, 0x0200); // start address
    plugin.SPUwriteRegister(0x1F801C08, 0x00FF); // fastest attack, no decay
    plugin.SPUwriteRegister(0x1F801C0A, 0x0000); // sustain held
    plugin.SPUwriteRegister(0x1F801D88, 0x0001); // key on voice 0
}

// SPUrender of the same scene from SPUinit on, as S16LE stereo frames.
inline std::vector<unsigned int> renderScene(Plugin& plugin, size_t frames)
{
    plugin.SPUinit();
    setUpScene(plugin);
    std::vector<unsigned int> out(frames);
    for (size_t done = 0; done < frames;)
    {
        const size_t chunk = frames - done < 4096 ? frames - done : 4096;
        plugin.SPUrender(reinterpret_cast<short*>(out.data() + done), chunk * 4);
        done += chunk;
    }
    plugin.SPUshutdown();
    return out;
}

inline std::vector<unsigned int> readFrames(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<unsigned int> frames(bytes.size() / 4);
    for (size_t i = 0; i < frames.size(); ++i)
    {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data()) + 4 * i;
        frames[i] = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<unsigned int>(b[3]) << 24);
    }
    return frames;
}

inline size_t firstSound(const std::vector<unsigned int>& frames)
{
    size_t i = 0;
    while (i < frames.size() && frames[i] == 0)
        ++i;
    return i;
}

// Whether every part of captured[from..] is silence or sound of the reference: each
// run of 16 frames either is all silence or occurs somewhere in the reference,
// except around a splice, where at most 31 runs in a row straddle it.
inline void expectOnlySilenceOrRenderedSound(const std::vector<unsigned int>& captured, size_t from,
                                             const std::vector<unsigned int>& reference)
{
    const size_t window = 16;
    std::set<std::vector<unsigned int>> known;
    for (size_t j = 0; j + window <= reference.size(); ++j)
        known.insert(std::vector<unsigned int>(reference.begin() + j, reference.begin() + j + window));
    size_t strangeRun = 0;
    for (size_t i = from; i + window <= captured.size(); ++i)
    {
        const std::vector<unsigned int> run(captured.begin() + i, captured.begin() + i + window);
        bool silent = true;
        for (unsigned int frame : run)
            silent = silent && frame == 0;
        strangeRun = silent || known.count(run) != 0 ? 0 : strangeRun + 1;
        if (strangeRun > 2 * window - 1)
        {
            ADD_FAILURE() << "captured frames from " << i - strangeRun + 1
                          << " on are neither silence nor sound that SPUrender gives";
            return;
        }
    }
}

// What a device captured must be silence (at least the queued start silence), then
// exactly the frames SPUrender gives, for at least as long as the caller requires
// (the return value: frames compared before the first difference), up to the last
// sounding frame (output stops with silence). The drain and the pacing run on the
// wall clock here: on a busy machine one of them can fall so far behind that the
// engine's queue leaves its band and the engine splices, by design. After such a
// splice only the content is certain: silence or frames SPUrender gives.
inline size_t expectCaptureMatchesRender(Plugin& plugin, const std::vector<unsigned int>& captured,
                                         size_t queuedSilence)
{
    const size_t start = firstSound(captured);
    EXPECT_LT(start, captured.size()) << "nothing but silence was captured";
    if (start >= captured.size())
        return 0;
    size_t end = captured.size();
    while (end > start && captured[end - 1] == 0)
        --end;
    const std::vector<unsigned int> reference = renderScene(plugin, end - start + 4096);
    const size_t offset = firstSound(reference);
    EXPECT_GE(start, queuedSilence + offset) << "sound began before the queued silence was played";
    for (size_t i = start; i < end; ++i)
    {
        if (captured[i] != reference[i - start + offset])
        {
            std::printf("note: the capture splices at frame %zu (%zu after the first sound); a drain or "
                        "pacing thread fell behind the queue's band\n",
                        i, i - start);
            ::testing::Test::RecordProperty("splicedAfterFrames", static_cast<int>(i - start));
            const std::vector<unsigned int> longer = renderScene(plugin, 2 * (end - start) + 4096);
            const std::vector<unsigned int> played(captured.begin(), captured.begin() + end);
            expectOnlySilenceOrRenderedSound(played, i, longer);
            return i - start;
        }
    }
    return end - start;
}
} // namespace outputscene
