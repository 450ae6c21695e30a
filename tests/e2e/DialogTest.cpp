// The dialogs as a host shows them: SPUconfigure and SPUabout of the built plugin,
// called in a child process (so that a dialog that never closes cannot hang the
// suite), drawn on a private Xvfb and driven with xdotool.

#include "XServer.h"
#include "support/Bytes.h"
#include "support/ScratchDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
const char* const ConfigTitle = "Configure Talvane SPU Plugin";

std::string configText(int audioDevice, int bufferSize, int outMethod, int asyncMode, int showRealtime,
                       int waitXA, int cacheVag, int finetune, int reverbType, int recOpt, int updateBefore,
                       int irqWait, int irqFlag7)
{
    std::ostringstream text;
    text << "AudioDevice = " << audioDevice << "\nSoundBufferSize = " << bufferSize
         << "\nAudioOutMethod = " << outMethod << "\nAsyncMode = " << asyncMode
         << "\nShowRealtimeConfigWindow = " << showRealtime << "\nWaitForXABufferIsFree = " << waitXA
         << "\nCacheVagDecode = " << cacheVag << "\nFinetune = " << finetune
         << "\nReverbType = " << reverbType << "\nRecOpt = " << recOpt
         << "\nUpdateBeforeRegisterAccess = " << updateBefore << "\nSPUIRQWaitCPUAction = " << irqWait
         << "\nSPUIRQForceInterruptFlag7 = " << irqFlag7 << "\n";
    return text.str();
}

std::string defaultConfigText()
{
    return configText(3, 64, 0, 0, 0, 1, 0, 0, 4, 5, 0, 0, 0);
}

// A host process: its working directory holds cfg/spuTalvane.cfg.
class DialogHost
{
public:
    explicit DialogHost(const std::string& configFile)
    {
        EXPECT_TRUE(dir.ok()) << dir.error();
        mkdir(dir.file("cfg").c_str(), 0755);
        if (!configFile.empty())
            writeFileText(configPath(), configFile);
    }

    ~DialogHost()
    {
        if (pid > 0)
        {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    std::string configPath() const { return dir.file("cfg/spuTalvane.cfg"); }

    // Calls the export in a child; its result becomes the child's exit status.
    void call(const char* exportName, bool withDisplay = true)
    {
        pid = fork();
        if (pid == 0)
        {
            if (!withDisplay)
                unsetenv("DISPLAY");
            if (chdir(dir.path().c_str()) != 0)
                _exit(101);
            void* plugin = dlopen(SPU_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
            if (plugin == nullptr)
                _exit(102);
            auto entry = reinterpret_cast<long (*)()>(dlsym(plugin, exportName));
            if (entry == nullptr)
                _exit(103);
            _exit(static_cast<int>(entry()) & 0x7F);
        }
    }

    bool running() { return pid > 0 && waitpid(pid, &status, WNOHANG) == 0; }

    // The child's exit status, or -1 when it did not end within timeoutMs (the
    // screen is then saved for a look).
    int finish(int timeoutMs = 10000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end)
        {
            const pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid)
            {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        screenshot(std::string("unfinished-") +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        return -1;
    }

    ScratchDir dir{ScratchDir::StayPut, "spu-dialog"};

private:
    pid_t pid = -1;
    int status = 0;
};

class DialogTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { server = sharedXServer(&serverError); }

    void SetUp() override { ASSERT_NE(server, nullptr) << serverError; }

    // Opens the configuration dialog over the given file and returns its window.
    std::string openConfigDialog(DialogHost& host)
    {
        host.call("SPUconfigure");
        const std::string window = findWindow(ConfigTitle);
        EXPECT_FALSE(window.empty()) << "the configuration dialog did not appear";
        return window;
    }

    static XServer* server;
    static std::string serverError;
};

XServer* DialogTest::server = nullptr;
std::string DialogTest::serverError;

// Widget centres in window coordinates.
const int OKButton[2] = {310, 217};
const int CancelButton[2] = {390, 217};
const int DefaultButton[2] = {470, 217};
const int BufferSizeUp[2] = {255, 41};
const int FinetuneDown[2] = {435, 85};
const int CacheVagDecodeBox[2] = {298, 65};
const int SPUIRQWaitBox[2] = {27, 169};
const int RecOptionButton[2] = {324, 110};
const int AudioDeviceChoice[2] = {72, 41};
} // namespace

TEST_F(DialogTest, ConfigDialogHasItsTitleAndSize)
{
    DialogHost host(defaultConfigText());
    const std::string window = openConfigDialog(host);
    ASSERT_FALSE(window.empty());
    EXPECT_EQ(windowSize(window), "515x235");
    screenshot("config-dialog");
    clickAt(window, CancelButton[0], CancelButton[1]);
    EXPECT_EQ(host.finish(), 0);
}

// OK copies every widget back: a file whose values all differ from the defaults
// comes back unchanged only if the dialog showed each of them.
TEST_F(DialogTest, ConfigDialogShowsTheFileValues)
{
    // DirectSound (0) is greyed in the menu but still shown and kept.
    const std::string file = configText(0, 128, 2, 1, 1, 0, 1, -12, 2, 5, 1, 1, 1);
    DialogHost host(file);
    const std::string window = openConfigDialog(host);
    ASSERT_FALSE(window.empty());
    screenshot("config-dialog-file-values");
    clickAt(window, OKButton[0], OKButton[1]);
    ASSERT_EQ(host.finish(), 0);
    EXPECT_EQ(readFileText(host.configPath()), file);
}

TEST_F(DialogTest, CancelLeavesTheFileByteForByte)
{
    // A hand-edited file: unusual spacing, a comment, a key out of order.
    const std::string file = "SoundBufferSize=128 # bigger ring\nAudioDevice = 3\nFinetune =-12\n";
    DialogHost host(file);
    const std::string window = openConfigDialog(host);
    ASSERT_FALSE(window.empty());
    clickAt(window, BufferSizeUp[0], BufferSizeUp[1]);
    clickAt(window, CacheVagDecodeBox[0], CacheVagDecodeBox[1]);
    clickAt(window, CancelButton[0], CancelButton[1]);
    ASSERT_EQ(host.finish(), 0);
    EXPECT_EQ(readFileText(host.configPath()), file);
}

TEST_F(DialogTest, OKWritesTheChangedValues)
{
    DialogHost host(defaultConfigText());
    const std::string window = openConfigDialog(host);
    ASSERT_FALSE(window.empty());
    clickAt(window, BufferSizeUp[0], BufferSizeUp[1]);
    clickAt(window, BufferSizeUp[0], BufferSizeUp[1]);
    clickAt(window, FinetuneDown[0], FinetuneDown[1]);
    clickAt(window, CacheVagDecodeBox[0], CacheVagDecodeBox[1]);
    clickAt(window, SPUIRQWaitBox[0], SPUIRQWaitBox[1]);
    screenshot("config-dialog-changed");
    pressKeys(window, "Return");
    ASSERT_EQ(host.finish(), 0);
    EXPECT_EQ(readFileText(host.configPath()), configText(3, 66, 0, 0, 0, 1, 1, -1, 4, 5, 0, 1, 0));
}

// From "OSS" one step up skips the greyed "WaveMapper" and lands on "SDL", which OK
// accepts after loading the library (installed with libsdl1.2-dev).
TEST_F(DialogTest, SDLIsPickedPastTheGreyedEntry)
{
    DialogHost host(defaultConfigText());
    const std::string window = openConfigDialog(host);
    ASSERT_FALSE(window.empty());
    const std::string before = shownWindows();
    clickAt(window, AudioDeviceChoice[0], AudioDeviceChoice[1]);
    // Keys sent before the menu is up would reach the dialog instead (a busy
    // machine draws it late): wait for the menu's own window.
    const std::string menu = newWindow(before);
    ASSERT_FALSE(menu.empty()) << "the menu did not open";
    screenshot("config-dialog-audio-device-menu");
    // The open menu holds the keyboard: no pointer move before the keys.
    runCommand("xdotool key --delay 80 Up Return");
    ASSERT_TRUE(windowIdGone(menu)) << "the menu did not close";
    clickAt(window, OKButton[0], OKButton[1]);
    ASSERT_EQ(host.finish(), 0);
    EXPECT_EQ(readFileText(host.configPath()), configText(1, 64, 0, 0, 0, 1, 0, 0, 4, 5, 0, 0, 0));
}

TEST_F(DialogTest, DefaultThenCancelLeavesTheFile)
{
    const std::string file = configText(1, 300, 1, 0, 1, 0, 1, 40, 0, 63, 1, 1, 1);
    DialogHost host(file);
    const std::string window = openConfigDialog(host);
    ASSERT_FALSE(window.empty());
    clickAt(window, DefaultButton[0], DefaultButton[1]);
    screenshot("config-dialog-defaults");
    clickAt(window, CancelButton[0], CancelButton[1]);
    ASSERT_EQ(host.finish(), 0);
    EXPECT_EQ(readFileText(host.configPath()), file);
}

TEST_F(DialogTest, DefaultThenOKWritesTheDefaults)
{
    DialogHost host(configText(1, 300, 1, 0, 1, 0, 1, 40, 0, 63, 1, 1, 1));
    const std::string window = openConfigDialog(host);
    ASSERT_FALSE(window.empty());
    clickAt(window, DefaultButton[0], DefaultButton[1]);
    clickAt(window, OKButton[0], OKButton[1]);
    ASSERT_EQ(host.finish(), 0);
    // The file is rewritten in place, not truncated: the old, longer content leaves
    // a tail behind the thirteen new lines, which the reader never reaches.
    EXPECT_EQ(readFileText(host.configPath()).substr(0, defaultConfigText().size()), defaultConfigText());
}

TEST_F(DialogTest, OutOfRangeValueAlertsAndKeepsTheDialogOpen)
{
    const std::string file = configText(3, 5000, 0, 0, 0, 1, 0, 0, 4, 5, 0, 0, 0);
    DialogHost host(file);
    const std::string window = openConfigDialog(host);
    ASSERT_FALSE(window.empty());
    const std::string before = shownWindows();
    clickAt(window, OKButton[0], OKButton[1]);

    // The alert is a new window of its own.
    const std::string alert = newWindow(before);
    ASSERT_FALSE(alert.empty()) << "no alert appeared";
    screenshot("config-dialog-alert");
    pressKeys(alert, "Return");
    EXPECT_TRUE(windowIdGone(alert)) << "Enter did not close the alert";

    EXPECT_TRUE(host.running());
    EXPECT_FALSE(findWindow(ConfigTitle).empty());
    clickAt(window, CancelButton[0], CancelButton[1]);
    ASSERT_EQ(host.finish(), 0);
    EXPECT_EQ(readFileText(host.configPath()), file);
}

TEST_F(DialogTest, RecordingOptionsRoundTripRecOpt)
{
    DialogHost host(defaultConfigText());
    const std::string window = openConfigDialog(host);
    ASSERT_FALSE(window.empty());
    clickAt(window, RecOptionButton[0], RecOptionButton[1]);
    const std::string options = findWindow("Recording Option");
    ASSERT_FALSE(options.empty());
    EXPECT_EQ(windowSize(options), "175x200");
    screenshot("recording-options");
    clickAt(options, 34, 60);  // "REG read" on: 0x02
    clickAt(options, 34, 80);  // "DMA write" off: 0x04
    clickAt(options, 34, 140); // "CDDA play" on: 0x20
    clickAt(options, 45, 180); // OK
    ASSERT_TRUE(windowGone("Recording Option"));
    clickAt(window, OKButton[0], OKButton[1]);
    ASSERT_EQ(host.finish(), 0);
    EXPECT_EQ(readFileText(host.configPath()), configText(3, 64, 0, 0, 0, 1, 0, 0, 4, 0x23, 0, 0, 0));
}

TEST_F(DialogTest, RecordingOptionsCancelKeepsRecOpt)
{
    DialogHost host(defaultConfigText());
    const std::string window = openConfigDialog(host);
    ASSERT_FALSE(window.empty());
    clickAt(window, RecOptionButton[0], RecOptionButton[1]);
    const std::string options = findWindow("Recording Option");
    ASSERT_FALSE(options.empty());
    clickAt(options, 34, 40);   // "REG write" off
    clickAt(options, 130, 180); // Cancel
    ASSERT_TRUE(windowGone("Recording Option"));
    clickAt(window, OKButton[0], OKButton[1]);
    ASSERT_EQ(host.finish(), 0);
    EXPECT_EQ(readFileText(host.configPath()), defaultConfigText());
}

TEST_F(DialogTest, AboutBoxBlocksUntilEnter)
{
    DialogHost host(defaultConfigText());
    host.call("SPUabout");
    const std::string window = findWindow("About Talvane SPU Plugin");
    ASSERT_FALSE(window.empty());
    EXPECT_EQ(windowSize(window), "355x425");
    screenshot("about-box");
    EXPECT_TRUE(host.running());
    pressKeys(window, "Return");
    EXPECT_EQ(host.finish(), 0);
    EXPECT_TRUE(windowGone("About Talvane SPU Plugin"));
}

// A host without X: the dialogs say so and return at once; the file is untouched.
TEST_F(DialogTest, WithoutDisplayDialogsReturnAtOnce)
{
    const std::string file = configText(3, 128, 0, 0, 0, 1, 0, 0, 4, 5, 0, 0, 0);
    DialogHost configure(file);
    configure.call("SPUconfigure", false);
    EXPECT_EQ(configure.finish(), 0);
    EXPECT_EQ(readFileText(configure.configPath()), file);

    DialogHost about(file);
    about.call("SPUabout", false);
    EXPECT_EQ(about.finish(), 0);
}
