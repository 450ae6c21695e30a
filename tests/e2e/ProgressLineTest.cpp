// ProgressLine against a clock the test sets: shown at the first update, then at
// most once a quarter second, with the last count shown and the line ended at the
// finish.

#include "spuhost/ProgressLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{
// Everything written to the stream so far, kept in memory.
class MemoryStream
{
public:
    MemoryStream() : stream(open_memstream(&buffer, &size)) {}
    ~MemoryStream()
    {
        std::fclose(stream);
        std::free(buffer);
    }
    FILE* get() const { return stream; }
    std::string text()
    {
        std::fflush(stream);
        return std::string(buffer, size);
    }

private:
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream;
};

TEST(ProgressLineTest, ShowsAtOnceThenAtMostFourTimesASecond)
{
    MemoryStream out;
    double now = 100.0;
    ProgressLine line(out.get(), "replay", [&now] { return now; });
    line.update(4096, 40960);
    EXPECT_EQ("\rreplay: 4096 of 40960 frames (10.0%)", out.text());
    now = 100.2;
    line.update(8192, 40960);
    EXPECT_EQ("\rreplay: 4096 of 40960 frames (10.0%)", out.text()) << "shown again within 0.25 s";
    now = 100.25;
    line.update(12288, 40960);
    EXPECT_EQ("\rreplay: 4096 of 40960 frames (10.0%)\rreplay: 12288 of 40960 frames (30.0%)", out.text());
    now = 100.3;
    line.update(40960, 40960);
    line.finish();
    EXPECT_EQ("\rreplay: 4096 of 40960 frames (10.0%)\rreplay: 12288 of 40960 frames (30.0%)"
              "\rreplay: 40960 of 40960 frames (100.0%)\n",
              out.text());
}

TEST(ProgressLineTest, FinishEndsTheLineWithoutRepeatingIt)
{
    MemoryStream out;
    double now = 0;
    ProgressLine line(out.get(), "replay", [&now] { return now; });
    line.update(5, 5);
    line.finish();
    EXPECT_EQ("\rreplay: 5 of 5 frames (100.0%)\n", out.text());
    line.finish();
    EXPECT_EQ("\rreplay: 5 of 5 frames (100.0%)\n", out.text()) << "a second finish adds nothing";
}

TEST(ProgressLineTest, NothingShownNothingToFinish)
{
    MemoryStream out;
    ProgressLine line(out.get(), "replay", [] { return 0.0; });
    line.finish();
    EXPECT_EQ("", out.text());
}

TEST(ProgressLineTest, ZeroTotalReadsAsDone)
{
    MemoryStream out;
    ProgressLine line(out.get(), "replay", [] { return 0.0; });
    line.update(0, 0);
    EXPECT_EQ("\rreplay: 0 of 0 frames (100.0%)", out.text());
}
} // namespace
