// The real-time window as a host meets it: SPUopen with "ShowRealtimeConfigWindow"
// set opens it on the plugin's own thread, "Record" works while the host writes
// registers, and SPUclose closes it. The host is a child process so that a hang
// cannot block the suite; it runs on a private Xvfb driven with xdotool.

#include "XServer.h"
#include "support/ScratchDir.h"
#include "support/SettingsFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
const char* const WindowTitle = "Configure Talvane SPU Plugin";
const int RecordButton[2] = {470, 217};

// Exit codes of the host child.
enum HostExit
{
    HostOK = 0,
    HostNoPlugin = 101,
    HostCloseFailed = 102,
};

class RealtimeWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server = sharedXServer(&serverError);
        ASSERT_NE(server, nullptr) << serverError;
        ASSERT_TRUE(dir.ok()) << dir.error();
        mkdir(dir.file("cfg").c_str(), 0755);
        // Thread pacing; OSS, which plays silently on the wall clock where there is
        // no "/dev/dsp".
        std::ofstream(dir.file("cfg/spuTalvane.cfg"))
            << settingsText({{"ShowRealtimeConfigWindow", 1}, {"RecOpt", 1}});
    }

    void TearDown() override
    {
        if (pid > 0)
        {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    // The host: SPUinit, SPUopen, then register writes every millisecond until
    // told to close through the pipe; then SPUclose and SPUshutdown.
    void startHost()
    {
        ASSERT_EQ(pipe(closeRequest), 0);
        pid = fork();
        if (pid == 0)
        {
            close(closeRequest[1]);
            fcntl(closeRequest[0], F_SETFL, O_NONBLOCK);
            if (chdir(dir.path().c_str()) != 0)
                _exit(HostNoPlugin);
            void* plugin = dlopen(SPU_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
            if (plugin == nullptr)
                _exit(HostNoPlugin);
            auto init = reinterpret_cast<long (*)()>(dlsym(plugin, "SPUinit"));
            auto open = reinterpret_cast<long (*)(...)>(dlsym(plugin, "SPUopen")); // the export's own type
            auto write =
                reinterpret_cast<void (*)(unsigned long, unsigned short)>(dlsym(plugin, "SPUwriteRegister"));
            auto closeOutput = reinterpret_cast<long (*)()>(dlsym(plugin, "SPUclose"));
            auto shutdown = reinterpret_cast<long (*)()>(dlsym(plugin, "SPUshutdown"));
            init();
            open(nullptr);
            char c;
            for (unsigned short value = 0; read(closeRequest[0], &c, 1) != 1; value++)
            {
                write(0x1F801C00, value);
                usleep(1000);
            }
            closeOutput();
            shutdown();
            _exit(HostOK);
        }
        close(closeRequest[0]);
    }

    void closeHost()
    {
        ASSERT_EQ(write(closeRequest[1], "c", 1), 1);
        close(closeRequest[1]);
    }

    // The child's exit status, or -1 when it did not end within timeoutMs.
    int finishHost(int timeoutMs)
    {
        int status = 0;
        for (int waited = 0; waited < timeoutMs; waited += 20)
        {
            if (waitpid(pid, &status, WNOHANG) == pid)
            {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    XServer* server = nullptr;
    std::string serverError;
    ScratchDir dir{ScratchDir::StayPut, "spu-realtime-host"};
    pid_t pid = -1;
    int closeRequest[2] = {-1, -1};
};

// Size of the log file, or -1 when it does not exist.
long fileSize(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}
} // namespace

TEST_F(RealtimeWindowTest, SPUopenShowsTheWindowAndSPUcloseClosesIt)
{
    startHost();
    const std::string window = findWindow(WindowTitle);
    ASSERT_FALSE(window.empty()) << "SPUopen did not show the real-time window";
    EXPECT_EQ(windowSize(window), "515x235");
    screenshot("realtime-window-host");
    closeHost();
    EXPECT_EQ(finishHost(5000), HostOK);
    EXPECT_TRUE(windowGone(WindowTitle, 2000));
}

// With "RecOpt" 1 only the host's register writes are logged: 11 bytes each,
// type 0, the address as written.
TEST_F(RealtimeWindowTest, RecordTwiceLogsTheHostsRegisterWrites)
{
    startHost();
    const std::string window = findWindow(WindowTitle);
    ASSERT_FALSE(window.empty());
    const std::string log = dir.file("spulog.spu");
    clickAt(window, RecordButton[0], RecordButton[1]);
    for (int waited = 0; waited < 5000 && fileSize(log) <= 0x80204 + 11 * 20; waited += 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    screenshot("realtime-window-recording");
    clickAt(window, RecordButton[0], RecordButton[1]);
    closeHost();
    ASSERT_EQ(finishHost(5000), HostOK);

    std::ifstream in(log, std::ios::binary);
    ASSERT_TRUE(in.good());
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 0x80204u + 11 * 20);
    ASSERT_EQ((bytes.size() - 0x80204) % 11, 0u);
    for (size_t at = 0x80204; at < bytes.size(); at += 11)
    {
        ASSERT_EQ(bytes[at + 4], 0) << "entry at " << at << " is not a register write";
        const uint32_t address = bytes[at + 5] | bytes[at + 6] << 8 | bytes[at + 7] << 16 |
                                 static_cast<uint32_t>(bytes[at + 8]) << 24;
        ASSERT_EQ(address, 0x1F801C00u);
    }
    const uint32_t duration = bytes[0x80200] | bytes[0x80201] << 8 | bytes[0x80202] << 16 |
                              static_cast<uint32_t>(bytes[0x80203]) << 24;
    const uint32_t lastStamp = bytes[bytes.size() - 11] | bytes[bytes.size() - 10] << 8 |
                               bytes[bytes.size() - 9] << 16 |
                               static_cast<uint32_t>(bytes[bytes.size() - 8]) << 24;
    EXPECT_GT(duration, 0u) << "no sound was rendered while recording";
    EXPECT_LE(lastStamp, duration);
}
