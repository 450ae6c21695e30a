// spuhost replay while it runs: Ctrl-C (SIGINT) stops a long replay between two
// chunks with the output files whole, and the progress line shows on a terminal
// and only there (for replay's stems and render's files too).

#include "HostFixture.h"
#include "support/Bytes.h"
#include "support/HostProcess.h"
#include "support/HostRun.h"
#include "support/LogBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
// Bounds that only a fault reaches; the tests poll and never wait for a guess.
const double StartSeconds = 120;
const double StopSeconds = 20;

const uint32_t MaxWavFrames = 1073741814u;

// The host run on a pseudo-terminal: all it printed there, and its wait status.
struct TerminalRun
{
    std::string output;
    int status = -1;
};

TerminalRun runOnTerminal(const std::string& dir, const std::vector<std::string>& args)
{
    std::vector<std::string> words = {SPU_HOST_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);

    TerminalRun run;
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0)
        return run;
    if (child == 0)
    {
        if (chdir(dir.c_str()) == 0)
            execv(argv[0], argv.data());
        _exit(127);
    }
    // Read until the child's side closes (EIO on Linux); poll bounds a hang.
    for (;;)
    {
        pollfd ready = {terminal, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(StartSeconds * 1000)) <= 0)
        {
            kill(child, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t got = read(terminal, buffer, sizeof(buffer));
        if (got <= 0 && errno != EINTR)
            break;
        if (got > 0)
            run.output.append(buffer, static_cast<size_t>(got));
    }
    close(terminal);
    waitpid(child, &run.status, 0);
    return run;
}

class ReplayInterruptTest : public HostTest
{
protected:
    // Starts a replay of a log of `duration` frames with `outputs`, lets it render
    // until `path` holds more than `bytes`, then sends SIGINT and waits for the end.
    void interruptReplay(uint32_t duration, const std::vector<std::string>& outputs, const std::string& path,
                         off_t bytes)
    {
        LogBuilder(duration).save(file("spulog.spu"));
        std::vector<std::string> args = {"replay", SPU_PLUGIN_PATH, "spulog.spu"};
        args.insert(args.end(), outputs.begin(), outputs.end());
        HostProcess host(dir, args);
        ASSERT_TRUE(host.started());
        ASSERT_TRUE(host.waitForFileLarger(path, bytes, StartSeconds))
            << "the replay ended or wrote nothing: " << errors();
        ASSERT_EQ(0, kill(host.pid(), SIGINT));
        ASSERT_TRUE(host.waitForExit(StopSeconds)) << "still running after SIGINT";
        const int status = host.waitStatus();
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(130, WEXITSTATUS(status));
        EXPECT_NE(errors().find("spuhost replay: interrupted after "), std::string::npos) << errors();
        EXPECT_EQ(errors().find("runtime error"), std::string::npos) << errors();
    }

    std::string errors() const
    {
        const std::vector<unsigned char> err = readFileBytes(file("host.err"));
        return std::string(err.begin(), err.end());
    }
};

// The log asks for more than a WAV file could hold: raw output has no such bound.
TEST_F(ReplayInterruptTest, CtrlCLeavesWholeFramesInTheRawFile)
{
    interruptReplay(MaxWavFrames + 1, {"--out", "out.raw"}, file("out.raw"), 0);
    const size_t size = readFileBytes(file("out.raw")).size();
    EXPECT_GT(size, 0u);
    EXPECT_EQ(0u, size % 4) << size << " bytes are not whole frames";
    EXPECT_LT(size, 4ull * MaxWavFrames) << "not stopped early";
}

// The most frames a WAV file holds are accepted; the header written on the way
// out tells the length of what was rendered.
TEST_F(ReplayInterruptTest, CtrlCLeavesAWavFileWhoseHeaderMatchesItsLength)
{
    interruptReplay(MaxWavFrames, {"--wav", "out.wav", "--out", "out.raw"}, file("out.wav"), 44);
    const std::vector<unsigned char> wav = readFileBytes(file("out.wav"));
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(le32(wav, 40), wav.size() - 44);
    EXPECT_EQ(0u, (wav.size() - 44) % 4);
    // Both files got the same frames.
    EXPECT_EQ(readFileBytes(file("out.raw")), std::vector<unsigned char>(wav.begin() + 44, wav.end()));
}

TEST_F(ReplayInterruptTest, ProgressShowsOnATerminal)
{
    const uint32_t duration = 10 * 44100;
    LogBuilder(duration).save(file("spulog.spu"));
    const TerminalRun run = runOnTerminal(dir, {"replay", SPU_PLUGIN_PATH, "spulog.spu", "--out", "out.raw"});
    ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.output;
    // The first chunk's count at once, the last on the way out, one line rewritten
    // with carriage returns and ended (the terminal turns "\n" into "\r\n").
    EXPECT_EQ(0u, run.output.find("\rspuhost replay: 4096 of 441000 frames (0.9%)")) << run.output;
    const std::string last = "\rspuhost replay: 441000 of 441000 frames (100.0%)\r\n";
    ASSERT_GE(run.output.size(), last.size()) << run.output;
    EXPECT_EQ(last, run.output.substr(run.output.size() - last.size())) << run.output;
    EXPECT_EQ(1u, std::count(run.output.begin(), run.output.end(), '\n')) << run.output;
    EXPECT_EQ(readFileBytes(file("out.raw")).size(), 4u * duration);
}

// Stems: one line counting the frames of the replays of every source the log keys
// on; a silent one leaves no file, one never keyed on is not replayed.
TEST_F(ReplayInterruptTest, StemsShowOneProgressLineOverEverySource)
{
    const uint32_t duration = 44100;
    std::vector<uint16_t> ram(0x800, 0); // the tone at byte 0x1000
    const std::vector<uint16_t> tone = toneBlocks();
    ram.insert(ram.end(), tone.begin(), tone.end());
    std::vector<uint16_t> registers(256, 0);
    registers[0] = registers[1] = 0x3FFF;      // voice 0's volumes
    registers[2] = 0x1000;                     // its pitch
    registers[3] = 0x1000 / 8;                 // its sample
    registers[4] = 0x00FF;                     // attack at once, full sustain
    registers[(0x1D80 - 0x1C00) / 2] = 0x3FFF; // main volume
    registers[(0x1D82 - 0x1C00) / 2] = 0x3FFF;
    registers[(0x1DAA - 0x1C00) / 2] = 0xC000; // on, unmuted
    registers[10] = 0x1000;                    // voice 1 plays the tone at volume 0
    registers[11] = 0x1000 / 8;
    LogBuilder(duration, ram, registers).regWrite(100, 0x1F801D88, 0x0003).save(file("spulog.spu"));
    const TerminalRun run = runOnTerminal(dir, {"replay", SPU_PLUGIN_PATH, "spulog.spu", "--stems", "stems"});
    ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.output;
    const std::string last = "\rspuhost replay --stems: 88200 of 88200 frames (100.0%)\r\n";
    ASSERT_GE(run.output.size(), last.size()) << run.output;
    EXPECT_EQ(last, run.output.substr(run.output.size() - last.size())) << run.output;
    EXPECT_EQ(1u, std::count(run.output.begin(), run.output.end(), '\n')) << run.output;
    EXPECT_EQ(44 + 4u * duration, readFileBytes(file("stems/voice-00.wav")).size());
    EXPECT_TRUE(readFileBytes(file("stems/voice-01.wav")).empty()) << "silent: no file";
    EXPECT_TRUE(readFileBytes(file("stems/cd.wav")).empty());
}

// render shows the frames written of each file, a line each.
TEST_F(ReplayInterruptTest, RenderShowsProgressOnATerminal)
{
    writeFileText(file("tone.script"), "init\nrender 50000\nrender 30000\n");
    const TerminalRun run =
        runOnTerminal(dir, {"render", SPU_PLUGIN_PATH, "--script", "tone.script", "--wav", "out.wav"});
    ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.output;
    EXPECT_EQ(0u, run.output.find("\rspuhost render: out.wav: 4096 of 80000 frames (5.1%)")) << run.output;
    EXPECT_NE(std::string::npos,
              run.output.find("\rspuhost render: out.wav: 80000 of 80000 frames (100.0%)\r\n"))
        << run.output;
    EXPECT_NE(std::string::npos, run.output.find("out.wav: 1.81 s of 44100 Hz stereo")) << run.output;
}

TEST_F(ReplayInterruptTest, NoProgressWhenStandardErrorIsAFile)
{
    LogBuilder(10 * 44100).save(file("spulog.spu"));
    const HostRun run = runHost(dir, "replay '" SPU_PLUGIN_PATH "' spulog.spu --out out.raw");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ("", run.err);
}
} // namespace
