// spuhost voices: the table of what each voice does, from the register traffic of
// the demo tune, against the times its script writes; and the picture.

#include "support/Bytes.h"
#include "support/HostRun.h"
#include "support/LogBuilder.h"
#include "support/ScratchDir.h"

#include "spuhost/VoicePicture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const std::string DemoScript = SPU_SOURCE_DIR "/demo/demo.script";

// Key-ons and key-offs as the script writes them: frames counted by its render
// lines, voices by the bits of the key registers. A key-off of a voice not keyed
// on ends nothing.
struct ScriptKeys
{
    std::map<int, std::vector<unsigned long>> ons;
    std::map<int, unsigned long> lastOff;
    std::set<int> keyed;
};

ScriptKeys keysOf(const std::string& path)
{
    ScriptKeys keys;
    std::ifstream in(path);
    std::string line;
    unsigned long now = 0;
    while (std::getline(in, line))
    {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string command, address, value;
        words >> command >> address >> value;
        if (command == "render")
            now += std::stoul(address);
        if (command != "w")
            continue;
        const unsigned long reg = std::stoul(address, nullptr, 16);
        const unsigned long bits = std::stoul(value, nullptr, 16);
        for (int bit = 0; bit < 16; ++bit)
        {
            if (((bits >> bit) & 1) == 0)
                continue;
            const int voice = bit + (reg == 0x1F801D8A || reg == 0x1F801D8E ? 16 : 0);
            if (reg == 0x1F801D88 || reg == 0x1F801D8A)
            {
                keys.ons[voice].push_back(now);
                keys.keyed.insert(voice);
            }
            if ((reg == 0x1F801D8C || reg == 0x1F801D8E) && keys.keyed.erase(voice) == 1)
                keys.lastOff[voice] = now;
        }
    }
    return keys;
}

struct Row
{
    unsigned keyOns = 0;
    double firstOn = 0, lastOff = 0;
    std::string rate, noise, fm, reverb, rest;
};

// The table's rows by voice.
std::map<int, Row> rowsOf(const std::string& out)
{
    std::map<int, Row> rows;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
    {
        std::istringstream words(line);
        int voice;
        Row row;
        std::string s1, s2;
        if (!(words >> voice >> row.keyOns >> row.firstOn >> s1 >> row.lastOff >> s2 >> row.rate >>
              row.noise >> row.fm >> row.reverb))
            continue;
        std::getline(words, row.rest);
        rows[voice] = row;
    }
    return rows;
}

TEST(SpuhostVoicesTest, DemoTableNamesTheInstrumentsVoicesAndTheScriptsTimes)
{
    ScratchDir dir;
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    const HostRun run = runHost(dir.path(), "voices '" + DemoScript + "'");
    ASSERT_EQ(0, run.status) << run.err;
    const std::map<int, Row> rows = rowsOf(run.out);
    const ScriptKeys keys = keysOf(DemoScript);

    // The tune's instruments: bass 0, kick 1, three pads 2-4, bell 5, hi-hat 6 on the
    // noise, the vibrato 7 (silent, it modulates the lead) and the lead 8.
    std::set<int> voices;
    for (const auto& row : rows)
        voices.insert(row.first);
    EXPECT_EQ((std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}), voices) << run.out;
    ASSERT_EQ(keys.ons.size(), rows.size());
    for (const auto& on : keys.ons)
    {
        const int v = on.first;
        const Row& row = rows.at(v);
        EXPECT_EQ(on.second.size(), row.keyOns) << "voice " << v;
        EXPECT_NEAR(on.second.front() / 44100.0, row.firstOn, 0.0005) << "voice " << v;
        EXPECT_NEAR(keys.lastOff.at(v) / 44100.0, row.lastOff, 0.0005) << "voice " << v;
        EXPECT_EQ(v == 6 ? "yes" : "-", row.noise) << "voice " << v;
        EXPECT_EQ(v == 8 ? "yes" : "-", row.fm) << "voice " << v;
        const bool reverb = v >= 2 && v != 6 && v != 7 && v != 1;
        EXPECT_EQ(reverb ? "yes" : "-", row.reverb) << "voice " << v;
        EXPECT_EQ(v == 7, row.rest.find("volume 0") != std::string::npos) << "voice " << v << ":" << row.rest;
    }
    // The pads play one organ sample; the kick has one of its own.
    EXPECT_EQ(rows.at(2).rest, rows.at(3).rest);
    EXPECT_NE(rows.at(1).rest, rows.at(2).rest);
    EXPECT_EQ("44100", rows.at(1).rate) << "the kick plays at the rate it was sampled";
}

// A written picture's pixels, read back with libpng.
struct Picture
{
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    // Far from white and from the lanes' light ground: a bar.
    bool dark(int x, int y) const
    {
        const unsigned char* p = &rgb[3 * (static_cast<size_t>(y) * width + x)];
        return (255 - p[0]) + (255 - p[1]) + (255 - p[2]) > 100;
    }
    // The plot columns of a lane, from `from` up to `to`, that hold a bar.
    int barColumns(int lane, int from, int to) const
    {
        int bars = 0;
        for (int c = from; c < to; ++c)
            bars += dark(VoicePicture::columnX(c), VoicePicture::laneMiddleY(lane));
        return bars;
    }
};

bool readPng(const std::string& path, Picture& picture)
{
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}

// The plot column of a time, in a picture of `columns` over `seconds`.
int columnOf(double time, int columns, double seconds)
{
    return static_cast<int>(time / seconds * columns);
}

TEST(SpuhostVoicesTest, PictureOfTheDemoIsAPngOfTheStatedSizeShadedByTheEnvelopes)
{
    ScratchDir dir;
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    const HostRun run = runHost(dir.path(), "voices '" + DemoScript + "' --png demo.png --width 1000");
    ASSERT_EQ(0, run.status) << run.err;
    const int height = VoicePicture::heightFor(9);
    EXPECT_NE(std::string::npos,
              run.out.find("demo.png: 1000 x " + std::to_string(height) + " pixels, 9 lanes"))
        << run.out;
    Picture picture;
    ASSERT_TRUE(readPng(dir.file("demo.png"), picture));
    EXPECT_EQ(1000, picture.width);
    EXPECT_EQ(height, picture.height);
    // For a human to look at.
    const std::string kept = std::string(SPU_HOST_PATH).substr(0, std::string(SPU_HOST_PATH).rfind('/')) +
                             "/tests/demo-voices.png";
    writeFileBytes(kept, readFileBytes(dir.file("demo.png")));

    const std::map<int, Row> rows = rowsOf(run.out);
    const int columns = VoicePicture::plotColumns(1000);
    const double seconds = 24.943;
    // Lanes are the voices keyed on, in order: lane n is voice n here.
    const int kickStart = columnOf(rows.at(1).firstOn, columns, seconds);
    EXPECT_EQ(0, picture.barColumns(1, 0, kickStart)) << "the kick starts at " << rows.at(1).firstOn << " s";
    EXPECT_GT(picture.barColumns(1, kickStart, columns), 0);
    const int leadStart = columnOf(rows.at(8).firstOn, columns, seconds);
    EXPECT_EQ(0, picture.barColumns(8, 0, leadStart));
    EXPECT_GT(picture.barColumns(8, leadStart + 1, leadStart + 20), 15) << "the lead holds its first note";
    EXPECT_GT(picture.barColumns(7, 0, columns - 50), columns - 60) << "the vibrato runs throughout";
    // The hi-hat is keyed from its first note to the end, but its envelope dies
    // within each beat: most of its columns are empty.
    const int hatStart = columnOf(rows.at(6).firstOn, columns, seconds);
    const int hatBars = picture.barColumns(6, hatStart, columns);
    EXPECT_GT(hatBars, 20);
    EXPECT_LT(hatBars, (columns - hatStart) / 2);
}

TEST(SpuhostVoicesTest, WithoutAPluginThePictureShowsTheKeyedSpans)
{
    ScratchDir dir;
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    // A copy of the tool with no plugin beside it.
    writeFileBytes(dir.file("spuhost"), readFileBytes(SPU_HOST_PATH));
    ASSERT_EQ(0, std::system(("chmod +x '" + dir.file("spuhost") + "'").c_str()));
    const std::string command = "cd '" + dir.path() + "' && ./spuhost voices '" + DemoScript +
                                "' --png keyed.png --width 1000 > out.txt 2>&1";
    ASSERT_EQ(0, std::system(command.c_str())) << readFileText(dir.file("out.txt"));
    EXPECT_NE(std::string::npos, readFileText(dir.file("out.txt")).find("no plugin"))
        << readFileText(dir.file("out.txt"));
    Picture picture;
    ASSERT_TRUE(readPng(dir.file("keyed.png"), picture));
    const int columns = VoicePicture::plotColumns(1000);
    const int hatStart = columnOf(4.116, columns, 24.943) + 1;
    const int end = columnOf(23.946, columns, 24.943);
    EXPECT_EQ(end - hatStart, picture.barColumns(6, hatStart, end)) << "keyed from its first note to the end";

    const HostRun missing = runHost(dir.path(), "voices '" + DemoScript + "' --png other.png --plugin '" +
                                                    dir.file("none.so") + "'");
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("none.so")) << missing.err;
}

// A recording that starts while voices play: loading its snapshot keys on the
// voices of the key-on words, and the key-off words stop theirs again, as the
// replay and the picture play it.
TEST(SpuhostVoicesTest, TheSnapshotKeysOnWhatTheReplayKeysOn)
{
    ScratchDir dir;
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    std::vector<uint16_t> ram(0x800, 0); // a tone at byte 0x1000
    const std::vector<uint16_t> tone = toneBlocks();
    ram.insert(ram.end(), tone.begin(), tone.end());
    std::vector<uint16_t> registers(256, 0);
    for (int v : {0, 1})
    {
        registers[8 * v + 0] = registers[8 * v + 1] = 0x3FFF; // volumes
        registers[8 * v + 2] = 0x1000;                        // pitch
        registers[8 * v + 3] = 0x1000 / 8;                    // sample
        registers[8 * v + 4] = 0x00FF;                        // attack at once, full sustain
    }
    registers[(0x1D80 - 0x1C00) / 2] = registers[(0x1D82 - 0x1C00) / 2] = 0x3FFF;
    registers[(0x1DAA - 0x1C00) / 2] = 0xC000;
    registers[(0x1D88 - 0x1C00) / 2] = 0x0003; // voices 0 and 1 keyed on last
    registers[(0x1D8C - 0x1C00) / 2] = 0x0002; // voice 1 keyed off last
    LogBuilder(22050, ram, registers).regWrite(11025, 0x1F801D8C, 0x0001).save(dir.file("spulog.spu"));

    const HostRun run = runHost(dir.path(), "voices spulog.spu --png log.png");
    ASSERT_EQ(0, run.status) << run.err;
    const std::map<int, Row> rows = rowsOf(run.out);
    ASSERT_EQ(2u, rows.size()) << run.out;
    EXPECT_EQ(1u, rows.at(0).keyOns);
    EXPECT_DOUBLE_EQ(0.0, rows.at(0).firstOn);
    EXPECT_DOUBLE_EQ(0.25, rows.at(0).lastOff);
    EXPECT_DOUBLE_EQ(0.0, rows.at(1).lastOff) << "keyed off as soon as it was keyed on";
    Picture picture;
    ASSERT_TRUE(readPng(dir.file("log.png"), picture));
    const int columns = VoicePicture::plotColumns(VoicePicture::DefaultWidth);
    EXPECT_EQ(columns / 2 - 1, picture.barColumns(0, 0, columns / 2 - 1)) << "voice 0 sounds from the start";
    EXPECT_EQ(0, picture.barColumns(0, columns / 2 + 2, columns)) << "and stops at its key-off";
}

// The table reads a script against a stand-in: a save state the script writes is
// not written then (it would hold the stand-in's nothing), and render, which reads
// the traffic first to count the frames, still writes the real one.
TEST(SpuhostVoicesTest, ReadingTheTrafficWritesNoSaveState)
{
    ScratchDir dir;
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    writeFileText(dir.file("save.script"), "init\nw 1F801C00 1234\nrender 100\nfreeze save state.bin\n");
    const HostRun table = runHost(dir.path(), "voices save.script");
    ASSERT_EQ(0, table.status) << table.err;
    EXPECT_TRUE(readFileBytes(dir.file("state.bin")).empty());
    const HostRun render = runHost(dir.path(), std::string("render '") + SPU_PLUGIN_PATH +
                                                   "' --script save.script --wav out.wav");
    ASSERT_EQ(0, render.status) << render.err;
    const std::vector<unsigned char> state = readFileBytes(dir.file("state.bin"));
    ASSERT_GT(state.size(), 0x80000u);
    EXPECT_EQ(0x1234, le16(state, 16)) << "voice 0's left volume, the first register of the image";
}

TEST(SpuhostVoicesTest, ABrokenOrEmptyFileIsToldWhy)
{
    ScratchDir dir;
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    writeFileText(dir.file("bad.script"), "init\nw 1F801D88\n");
    HostRun run = runHost(dir.path(), "voices bad.script");
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("bad.script:2:")) << run.err;

    std::vector<unsigned char> log(0x80204, 0);
    log[0x80200] = 10;                                // 10 frames
    log.insert(log.end(), {20, 0, 0, 0, 0, 1, 2, 3}); // an entry past the duration, cut short
    writeFileBytes(dir.file("bad.spu"), log);
    run = runHost(dir.path(), "voices bad.spu");
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("bad.spu:")) << run.err;

    // A whole log recorded without its register writes: nothing to tell, and why.
    LogBuilder(4410).dmaWrite(10, {1, 2, 3}).save(dir.file("dma-only.spu"));
    run = runHost(dir.path(), "voices dma-only.spu");
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("0 of 24 voices keyed on")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("no register writes")) << run.out;

    run = runHost(dir.path(), "voices missing.script");
    EXPECT_EQ(1, run.status);
    EXPECT_FALSE(run.err.empty());
    EXPECT_EQ(2, runHost(dir.path(), "voices").status);
    EXPECT_EQ(2, runHost(dir.path(), "voices bad.script --width 10").status);
}
} // namespace
