// VoicePicture's files read back with libpng and looked at pixel by pixel. The test
// knows nothing of the margins: it finds the plot in a picture of one lane that
// sounds in every column, and reads the rest against that. A pixel counts as dark
// or as ground by how far its channels are from white, whatever its hue.

#include "spuhost/VoicePicture.h"
#include "support/ScratchDir.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace
{
const int Dark = 100;  // darkness (765 less the sum of the channels) of anything drawn
const int Ground = 40; // the most a lane's ground may have

struct Picture
{
    int width = 0;
    int height = 0;
    bool rgb8 = false; // the file is 8-bit RGB, without alpha
    std::vector<uint8_t> pixels;

    int darkness(int x, int y) const
    {
        const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
        return 765 - p[0] - p[1] - p[2];
    }
    bool dark(int x, int y) const { return darkness(x, y) >= Dark; }
};

::testing::AssertionResult readPicture(const std::string& path, Picture& picture)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return ::testing::AssertionFailure() << "cannot read " << path << ": " << image.message;
    picture.rgb8 = image.format == PNG_FORMAT_RGB;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    image.format = PNG_FORMAT_RGB;
    picture.pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr))
        return ::testing::AssertionFailure() << "cannot read " << path << ": " << image.message;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult writeAndRead(VoicePicture& voices, const std::string& path, Picture& picture)
{
    if (!voices.write(path))
        return ::testing::AssertionFailure() << voices.error();
    return readPicture(path, picture);
}

std::vector<uint16_t> sounding(int columns, int from, int to, uint16_t level)
{
    std::vector<uint16_t> levels(static_cast<size_t>(columns), 0);
    for (int c = from; c < to; ++c)
        levels[static_cast<size_t>(c)] = level;
    return levels;
}

// Where the plot lies in a picture of a given width.
struct Layout
{
    int columns = 0;
    int plotLeft = 0; // the picture column of the plot's first
    int barTop = 0;   // the first lane's bar rows
    int barHeight = 0;
    int pitch = 0; // rows from a lane to the next

    int barRow(int lane) const { return barTop + lane * pitch; }
};

// From a picture of one lane sounding at full level in every column: the bar is
// the rows in which the longest dark run is exactly the plot's columns long.
::testing::AssertionResult findLayout(const ScratchDir& scratch, int width, Layout& layout)
{
    layout.columns = VoicePicture::plotColumns(width);
    layout.pitch = VoicePicture::heightFor(1) - VoicePicture::heightFor(0);
    VoicePicture voices(width, 10);
    voices.addLane(0, std::vector<uint16_t>(static_cast<size_t>(layout.columns), VoicePicture::FullLevel));
    Picture picture;
    const ::testing::AssertionResult read = writeAndRead(voices, scratch.file("layout.png"), picture);
    if (!read)
        return read;
    int firstRow = -1, lastRow = -1;
    for (int y = 0; y < picture.height; ++y)
    {
        int best = 0, bestStart = 0;
        for (int x = 0; x < picture.width;)
        {
            int end = x;
            while (end < picture.width && picture.dark(end, y))
                ++end;
            if (end - x > best)
            {
                best = end - x;
                bestStart = x;
            }
            x = end + 1;
        }
        if (best != layout.columns)
            continue;
        if (firstRow < 0)
        {
            firstRow = y;
            layout.plotLeft = bestStart;
        }
        else if (y != lastRow + 1 || bestStart != layout.plotLeft)
            return ::testing::AssertionFailure() << "the bar's rows are not one block (row " << y << ")";
        lastRow = y;
    }
    if (firstRow < 0)
        return ::testing::AssertionFailure() << "no row holds a bar " << layout.columns << " columns long";
    layout.barTop = firstRow;
    layout.barHeight = lastRow - firstRow + 1;
    if (layout.barHeight < 4 || layout.barHeight >= layout.pitch)
        return ::testing::AssertionFailure()
               << "a bar " << layout.barHeight << " rows high in lanes " << layout.pitch << " apart";
    if (layout.plotLeft + layout.columns > picture.width)
        return ::testing::AssertionFailure() << "the plot runs past the picture";
    return ::testing::AssertionSuccess();
}

// Every pixel right of the plot's left edge, from the row above the first bar to the
// row below the last: dark where the row is in a lane's bar and that lane sounds in
// that column, ground anywhere else (between the bars and in the right margin too).
::testing::AssertionResult drawsExactly(const Picture& picture, const Layout& layout,
                                        const std::vector<std::vector<uint16_t>>& lanes)
{
    const int lastLane = static_cast<int>(lanes.size()) - 1;
    for (int y = layout.barTop - 1; y <= layout.barRow(lastLane) + layout.barHeight; ++y)
        for (int x = layout.plotLeft; x < picture.width; ++x)
        {
            const int lane = y >= layout.barTop ? (y - layout.barTop) / layout.pitch : -1;
            const bool inBar =
                lane >= 0 && lane <= lastLane && (y - layout.barTop) % layout.pitch < layout.barHeight;
            const size_t column = static_cast<size_t>(x - layout.plotLeft);
            const bool sounds = inBar && column < lanes[static_cast<size_t>(lane)].size() &&
                                lanes[static_cast<size_t>(lane)][column] > 0;
            const int darkness = picture.darkness(x, y);
            if (sounds ? darkness < Dark : darkness > Ground)
                return ::testing::AssertionFailure()
                       << "row " << y << ", plot column " << x - layout.plotLeft << ": darkness " << darkness
                       << (sounds ? ", expected a bar" : ", expected ground");
        }
    return ::testing::AssertionSuccess();
}

class VoicePictureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.ok()) << scratch.error();
        ASSERT_TRUE(findLayout(scratch, VoicePicture::DefaultWidth, layout));
    }

    ScratchDir scratch{ScratchDir::StayPut, "voice-picture"};
    Layout layout; // of a DefaultWidth picture
};

TEST_F(VoicePictureTest, WritesAnRgbPictureOfItsOwnSize)
{
    const int lanePitch = VoicePicture::heightFor(1) - VoicePicture::heightFor(0);
    ASSERT_GT(lanePitch, 0);
    for (int width : {VoicePicture::MinWidth, VoicePicture::DefaultWidth, 1001})
        for (int count : {0, 1, 24})
        {
            VoicePicture voices(width, 30);
            for (int v = 0; v < count; ++v)
                voices.addLane(v, sounding(VoicePicture::plotColumns(width), v, v + 20, 0x4000));
            EXPECT_EQ(VoicePicture::heightFor(count), voices.height());
            EXPECT_EQ(VoicePicture::heightFor(0) + count * lanePitch, VoicePicture::heightFor(count));
            Picture picture;
            ASSERT_TRUE(writeAndRead(voices, scratch.file("size.png"), picture));
            EXPECT_TRUE(picture.rgb8) << width << " x " << count;
            EXPECT_EQ(width, picture.width) << count << " lanes";
            EXPECT_EQ(voices.width(), picture.width) << count << " lanes";
            EXPECT_EQ(voices.height(), picture.height) << width << " wide, " << count << " lanes";
        }
}

TEST_F(VoicePictureTest, AFullLaneSpansExactlyThePlotColumns)
{
    for (int width : {VoicePicture::MinWidth, 777, VoicePicture::MaxWidth})
    {
        Layout other;
        ASSERT_TRUE(findLayout(scratch, width, other)) << width << " wide";
        EXPECT_EQ(layout.plotLeft, other.plotLeft) << "the left margin changes with the width";
        EXPECT_EQ(layout.barTop, other.barTop);
    }
    EXPECT_GT(layout.plotLeft, 0) << "no room for the voice numbers";
}

TEST_F(VoicePictureTest, BarsFillTheirOwnLaneWhereTheVoiceSounds)
{
    const int columns = layout.columns;
    std::vector<std::vector<uint16_t>> lanes = {
        sounding(columns, 0, 60, VoicePicture::FullLevel),
        sounding(columns, 200, 420, VoicePicture::FullLevel / 2),
        sounding(columns, columns - 5, columns, 1),
        sounding(columns, 0, 0, 0),
    };
    lanes[2][300] = 0x100; // one column alone
    VoicePicture voices(VoicePicture::DefaultWidth, 60);
    for (size_t i = 0; i < lanes.size(); ++i)
        voices.addLane(static_cast<int>(i) * 7, lanes[i]);
    Picture picture;
    ASSERT_TRUE(writeAndRead(voices, scratch.file("lanes.png"), picture));
    EXPECT_TRUE(drawsExactly(picture, layout, lanes));
}

TEST_F(VoicePictureTest, LouderIsDarkerAndTheQuietestStillShows)
{
    const uint16_t steps[] = {VoicePicture::FullLevel, VoicePicture::FullLevel / 4,
                              VoicePicture::FullLevel / 64, 1, 0};
    const int group = 8; // columns of each level
    std::vector<uint16_t> levels(static_cast<size_t>(layout.columns), 0);
    for (int i = 0; i < 5; ++i)
        for (int c = 0; c < group; ++c)
            levels[static_cast<size_t>(i * group + c)] = steps[i];
    std::vector<uint16_t> sweep(static_cast<size_t>(layout.columns));
    for (int c = 0; c < layout.columns; ++c)
        sweep[static_cast<size_t>(c)] =
            static_cast<uint16_t>(static_cast<long>(c) * VoicePicture::FullLevel / (layout.columns - 1));

    VoicePicture voices(VoicePicture::DefaultWidth, 20);
    voices.addLane(0, levels);
    voices.addLane(1, levels); // on the other ground
    voices.addLane(2, sweep);
    Picture picture;
    ASSERT_TRUE(writeAndRead(voices, scratch.file("shades.png"), picture));

    for (int lane = 0; lane < 2; ++lane)
    {
        const int top = layout.barRow(lane);
        int darkness[5];
        for (int i = 0; i < 5; ++i)
        {
            darkness[i] = picture.darkness(layout.plotLeft + i * group, top);
            for (int c = 0; c < group; ++c)
                for (int y = top; y < top + layout.barHeight; ++y)
                    ASSERT_EQ(darkness[i], picture.darkness(layout.plotLeft + i * group + c, y))
                        << "lane " << lane << ", level " << steps[i] << ": not one shade";
        }
        for (int i = 1; i < 4; ++i)
            EXPECT_GT(darkness[i - 1], darkness[i])
                << "lane " << lane << ": level " << steps[i - 1] << " against " << steps[i];
        EXPECT_GE(darkness[3] - darkness[4], 90)
            << "lane " << lane << ": level 1 is hard to tell from the ground";
        EXPECT_LE(darkness[4], Ground);
    }
    const int row = layout.barRow(2) + layout.barHeight / 2;
    for (int c = 2; c < layout.columns; ++c)
        ASSERT_GE(picture.darkness(layout.plotLeft + c, row), picture.darkness(layout.plotLeft + c - 1, row))
            << "lighter at level " << sweep[static_cast<size_t>(c)] << " than at "
            << sweep[static_cast<size_t>(c - 1)];
}

TEST_F(VoicePictureTest, LevelsAreCutOrPaddedToThePlot)
{
    const std::vector<uint16_t> longer(static_cast<size_t>(layout.columns + 40), VoicePicture::FullLevel);
    const std::vector<uint16_t> shorter(10, VoicePicture::FullLevel);
    VoicePicture voices(VoicePicture::DefaultWidth, 5);
    voices.addLane(0, longer);
    voices.addLane(1, shorter);
    voices.addLane(2, {});
    Picture picture;
    ASSERT_TRUE(writeAndRead(voices, scratch.file("resized.png"), picture));
    EXPECT_TRUE(
        drawsExactly(picture, layout,
                     {std::vector<uint16_t>(longer.begin(), longer.begin() + layout.columns), shorter, {}}));
}

TEST_F(VoicePictureTest, EachLaneShowsItsVoiceNumber)
{
    const int voicesShown[] = {5, 12, 5, 23, 8};
    VoicePicture voices(VoicePicture::DefaultWidth, 5);
    for (int voice : voicesShown)
        voices.addLane(voice, {});
    Picture picture;
    ASSERT_TRUE(writeAndRead(voices, scratch.file("numbers.png"), picture));

    // The ink left of the plot within each lane's rows.
    std::vector<std::vector<bool>> ink;
    for (int lane = 0; lane < 5; ++lane)
    {
        std::vector<bool> mask;
        int dots = 0;
        for (int y = layout.barRow(lane) - 1; y < layout.barRow(lane) - 1 + layout.pitch; ++y)
            for (int x = 0; x < layout.plotLeft; ++x)
            {
                mask.push_back(picture.dark(x, y));
                dots += picture.dark(x, y) ? 1 : 0;
            }
        EXPECT_GE(dots, 10) << "lane " << lane << " shows no number";
        ink.push_back(mask);
    }
    EXPECT_EQ(ink[0], ink[2]) << "voice 5 drawn differently in two lanes";
    EXPECT_NE(ink[0], ink[1]) << "voices 5 and 12";
    EXPECT_NE(ink[1], ink[3]) << "voices 12 and 23";
    EXPECT_NE(ink[0], ink[4]) << "voices 5 and 8";
}

TEST_F(VoicePictureTest, TicksFallOnRoundStepsWithLabelsApart)
{
    const double niceSteps[] = {0.1, 0.2, 0.5, 1,    2,    5,    10,   20,    30,   60,
                                120, 300, 600, 1200, 1800, 3600, 7200, 18000, 36000};
    struct Case
    {
        int width;
        double seconds;
    };
    for (const Case& scene : {Case{1200, 10}, Case{1200, 95.5}, Case{500, 45}, Case{320, 3600},
                              Case{1200, 7200}, Case{16000, 30}, Case{1200, 0.5}, Case{320, 2.5}})
    {
        SCOPED_TRACE(std::to_string(scene.width) + " wide, " + std::to_string(scene.seconds) + " s");
        Layout at;
        ASSERT_TRUE(findLayout(scratch, scene.width, at));
        VoicePicture voices(scene.width, scene.seconds);
        voices.addLane(0, {});
        voices.addLane(1, {});
        Picture picture;
        ASSERT_TRUE(writeAndRead(voices, scratch.file("axis.png"), picture));

        int axis = -1;
        for (int y = at.barRow(1) + at.barHeight; y < picture.height && axis < 0; ++y)
        {
            int dark = 0;
            for (int x = at.plotLeft; x < at.plotLeft + at.columns; ++x)
                dark += picture.dark(x, y) ? 1 : 0;
            if (dark == at.columns)
                axis = y;
        }
        ASSERT_GE(axis, 0) << "no axis line under the plot";

        std::vector<int> ticks;
        for (int x = 0; x < picture.width; ++x)
            if (picture.dark(x, axis + 1))
                ticks.push_back(x);
        ASSERT_GE(ticks.size(), 5u) << "too few ticks to read the time by";
        EXPECT_EQ(at.plotLeft, ticks.front()) << "0 s is not at the plot's first column";
        const double spacing = static_cast<double>(ticks.back() - ticks.front()) / (ticks.size() - 1);
        for (size_t i = 1; i < ticks.size(); ++i)
            EXPECT_NEAR(spacing, ticks[i] - ticks[i - 1], 1.0) << "tick " << i;
        const double step = spacing * scene.seconds / at.columns;
        size_t nice = 0;
        while (nice < std::size(niceSteps) && std::fabs(niceSteps[nice] - step) > 0.02 * step)
            ++nice;
        ASSERT_LT(nice, std::size(niceSteps)) << "a step of " << step << " s";
        EXPECT_EQ(static_cast<size_t>(std::floor(scene.seconds / niceSteps[nice] + 1e-9)) + 1, ticks.size());

        // Labels: the runs of inked columns below the ticks, apart by 4 blank columns or more.
        int band = axis + 1;
        while (band < picture.height)
        {
            bool blank = true;
            for (int x = 0; x < picture.width && blank; ++x)
                blank = !picture.dark(x, band);
            if (blank)
                break;
            ++band;
        }
        std::vector<std::pair<int, int>> labels; // first and last column
        int blanks = 4;
        for (int x = 0; x < picture.width; ++x)
        {
            bool inked = false;
            for (int y = band; y < picture.height && !inked; ++y)
                inked = picture.dark(x, y);
            if (!inked)
            {
                ++blanks;
                continue;
            }
            if (blanks >= 4)
                labels.push_back({x, x});
            labels.back().second = x;
            blanks = 0;
        }
        ASSERT_EQ(ticks.size(), labels.size()) << "labels run together or are missing";
        int widest = 0;
        for (size_t i = 0; i < ticks.size(); ++i)
        {
            EXPECT_LE(labels[i].first, ticks[i]) << "label " << i << " is not under its tick";
            EXPECT_GE(labels[i].second, ticks[i]) << "label " << i << " is not under its tick";
            widest = std::max(widest, labels[i].second - labels[i].first + 1);
        }
        if (nice > 0)
        {
            EXPECT_LT(niceSteps[nice - 1] * at.columns / scene.seconds, 2 * widest)
                << "a step of " << niceSteps[nice - 1] << " s would have had room";
        }
    }
}

TEST_F(VoicePictureTest, WidthIsClampedIntoRange)
{
    EXPECT_EQ(VoicePicture::MinWidth, VoicePicture(100, 1).width());
    EXPECT_EQ(VoicePicture::MinWidth, VoicePicture(-5, 1).width());
    EXPECT_EQ(VoicePicture::MaxWidth, VoicePicture(VoicePicture::MaxWidth + 1, 1).width());
    EXPECT_EQ(VoicePicture::MinWidth + 1, VoicePicture(VoicePicture::MinWidth + 1, 1).width());
    EXPECT_EQ(VoicePicture::plotColumns(VoicePicture::MinWidth), VoicePicture::plotColumns(100));
    EXPECT_EQ(VoicePicture::plotColumns(VoicePicture::MaxWidth), VoicePicture::plotColumns(1 << 20));

    Layout narrow;
    ASSERT_TRUE(findLayout(scratch, VoicePicture::MinWidth, narrow));
    VoicePicture voices(10, 4);
    voices.addLane(3, sounding(VoicePicture::plotColumns(10), 30, 90, VoicePicture::FullLevel));
    Picture picture;
    ASSERT_TRUE(writeAndRead(voices, scratch.file("clamped.png"), picture));
    EXPECT_EQ(VoicePicture::MinWidth, picture.width);
    EXPECT_TRUE(drawsExactly(picture, narrow, {sounding(narrow.columns, 30, 90, VoicePicture::FullLevel)}));
}

TEST_F(VoicePictureTest, SpanNotAboveZeroDrawsOneSecond)
{
    auto draw = [this](double seconds, Picture& picture) {
        VoicePicture voices(VoicePicture::MinWidth, seconds);
        voices.addLane(0, sounding(VoicePicture::plotColumns(VoicePicture::MinWidth), 10, 20, 0x1000));
        return writeAndRead(voices, scratch.file("span.png"), picture);
    };
    Picture oneSecond, twoSeconds;
    ASSERT_TRUE(draw(1, oneSecond));
    ASSERT_TRUE(draw(2, twoSeconds));
    ASSERT_NE(oneSecond.pixels, twoSeconds.pixels) << "the span does not show, so this test shows nothing";
    for (double seconds :
         {0.0, -3.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
    {
        Picture picture;
        ASSERT_TRUE(draw(seconds, picture)) << seconds << " s";
        EXPECT_EQ(oneSecond.pixels, picture.pixels) << seconds << " s";
    }
}

TEST_F(VoicePictureTest, FailedWriteNamesThePathAndLeavesNoFile)
{
    VoicePicture voices(VoicePicture::DefaultWidth, 5);
    voices.addLane(0, sounding(layout.columns, 0, 30, VoicePicture::FullLevel));

    const std::string missing = scratch.file("no-such-folder/voices.png");
    EXPECT_FALSE(voices.write(missing));
    EXPECT_EQ("cannot write '" + missing + "': " + std::strerror(ENOENT), voices.error());
    struct stat st;
    EXPECT_NE(0, stat(missing.c_str(), &st));

    const std::string folder = scratch.file("folder.png");
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    EXPECT_FALSE(voices.write(folder));
    EXPECT_NE(std::string::npos, voices.error().find("'" + folder + "'")) << voices.error();
    EXPECT_TRUE(stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) << "the folder went";
}

// RLIMIT_FSIZE for this process while it lives, with SIGXFSZ ignored so that a write
// past it fails with EFBIG instead of ending the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
        handler = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
    bool ok() const { return set; }

private:
    rlimit saved;
    bool set = false;
    void (*handler)(int);
};

TEST_F(VoicePictureTest, WriteCutShortLeavesNoFile)
{
    // A small file fails as it is closed, a large one inside libpng's own writing.
    VoicePicture small(VoicePicture::MinWidth, 1);
    VoicePicture large(VoicePicture::MaxWidth, 600);
    std::mt19937 random(7);
    for (int v = 0; v < 24; ++v)
    {
        std::vector<uint16_t> levels(static_cast<size_t>(VoicePicture::plotColumns(VoicePicture::MaxWidth)));
        for (uint16_t& level : levels)
            level = static_cast<uint16_t>(random() % (VoicePicture::FullLevel + 1));
        large.addLane(v, levels);
    }
    const std::string path = scratch.file("cut.png");
    for (VoicePicture* voices : {&small, &large})
    {
        FILE* old = std::fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, old);
        std::fputs("an older picture", old);
        std::fclose(old);
        {
            FileSizeLimit limit(64);
            ASSERT_TRUE(limit.ok());
            EXPECT_FALSE(voices->write(path)) << voices->width() << " wide";
        }
        EXPECT_EQ("cannot write '" + path + "': " + std::strerror(EFBIG), voices->error());
        struct stat st;
        EXPECT_NE(0, stat(path.c_str(), &st)) << voices->width() << " wide: the cut-short file is left";
        EXPECT_TRUE(voices->write(path)) << "without the limit: " << voices->error();
    }
}
} // namespace
