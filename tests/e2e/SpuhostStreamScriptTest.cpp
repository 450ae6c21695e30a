// The spuhost script commands for CD audio and save states, run as a user would.

#include "spuhost/PsxRecords.h"
#include "support/Bytes.h"
#include "support/ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
void writeFile(const std::string& path, const std::vector<short>& samples)
{
    std::ofstream out(path, std::ios::binary);
    for (short s : samples)
    {
        const char bytes[2] = {static_cast<char>(s & 0xFF), static_cast<char>((s >> 8) & 0xFF)};
        out.write(bytes, 2);
    }
}

// Runs spuhost on a script; returns its exit status and standard output.
int runScript(const std::string& dir, const std::string& script, std::string& output)
{
    {
        std::ofstream out(dir + "/script.txt");
        out << script;
    }
    const std::string command = std::string("cd '") + dir + "' && '" + SPU_HOST_PATH + "' script '" +
                                SPU_PLUGIN_PATH + "' script.txt --out out.raw 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    output.clear();
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
        output += buffer;
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
} // namespace

TEST(SpuhostStreamScriptTest, XaCddaAndFreezeCommandsDriveThePlugin)
{
    ScratchDir scratch(ScratchDir::StayPut, "spuhost_stream");
    ASSERT_TRUE(scratch.ok()) << scratch.error();
    const std::string dir = scratch.path();
    std::vector<short> samples(2 * 4032);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<short>(8000 + (i % 97) * 50);
    writeFile(dir + "/xa.raw", samples);
    writeFile(dir + "/cdda.raw", std::vector<short>(samples.begin(), samples.begin() + 3 * 1176));

    std::string output;
    const int status = runScript(dir,
                                 "init\n"
                                 "w 1F801D80 3FFF\nw 1F801D82 3FFF\nw 1F801DAA C000\n"
                                 "w 1F801DB0 7FFF\nw 1F801DB2 7FFF\n"
                                 "cdda cdda.raw\n"
                                 "freeze size\n"
                                 "freeze save state.bin\n"
                                 "freeze load state.bin\n"
                                 "xa xa.raw 37800 2\n"
                                 "xa xa.raw --rate 18900 --mono\n"
                                 "render 100\n"
                                 "shutdown\n",
                                 output);
    ASSERT_EQ(0, status) << output;
    const std::string sizeLine = "freeze size " + std::to_string(FreezeRecordSize) + "\n";
    EXPECT_NE(std::string::npos, output.find(sizeLine)) << output;

    const std::vector<unsigned char> state = readFileBytes(dir + "/state.bin");
    ASSERT_EQ(FreezeRecordSize, state.size());
    EXPECT_EQ("DIRIR", std::string(reinterpret_cast<const char*>(state.data())));
    EXPECT_EQ(0xFF, state[16 + 0x1B0]) << "CD volume left in the register image";
    EXPECT_EQ(0x7F, state[16 + 0x1B1]);

    // Each chunk is followed by its playing time: 3 x 588 CD-DA frames, 2 x 2352
    // frames of 2016-frame stereo records at 37800 Hz, 2 x 9408 frames of
    // 4032-frame mono records at 18900 Hz, and the final 100.
    const std::vector<unsigned char> out = readFileBytes(dir + "/out.raw");
    EXPECT_EQ(4u * (3 * 588 + 2 * 2352 + 2 * 9408 + 100), out.size());
    size_t loud = 0;
    for (size_t i = 0; i + 1 < out.size(); i += 2)
        loud += static_cast<short>(out[i] | (out[i + 1] << 8)) > 1000;
    EXPECT_GT(loud, out.size() / 8) << "the CD audio reaches the output";
}

TEST(SpuhostStreamScriptTest, BadStreamCommandsAreReportedWithTheirLine)
{
    ScratchDir scratch(ScratchDir::StayPut, "spuhost_stream");
    ASSERT_TRUE(scratch.ok()) << scratch.error();
    const std::string dir = scratch.path();
    std::string output;
    EXPECT_EQ(1, runScript(dir, "init\nxa xa.raw 37800 3\n", output));
    EXPECT_NE(std::string::npos, output.find("script.txt:2:")) << output;
    EXPECT_EQ(1, runScript(dir, "init\ncdda missing.raw\n", output));
    EXPECT_NE(std::string::npos, output.find("cannot read")) << output;
    std::ofstream(dir + "/short.bin") << "DIRIR";
    EXPECT_EQ(1, runScript(dir, "init\nfreeze load short.bin\n", output));
    EXPECT_NE(std::string::npos, output.find(std::to_string(FreezeRecordSize))) << output;
    EXPECT_EQ(1, runScript(dir, "init\nfreeze\n", output));
}
