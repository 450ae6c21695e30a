// The real-time window on a thread of its own, as the output start runs it, drawn
// on a private Xvfb and driven with xdotool while another thread renders sound; and
// its callback called directly for the cases X cannot drive.

#include "XServer.h"
#include "support/ScratchDir.h"

#include "audio/AudioDevice.h"
#include "audio/AudioOutThread.h"
#include "audio/CriticalSection.h"
#include "config/ConfigDialog.h"
#include "config/ConfigLinux.h"
#include "config/RealtimeConfigDialog.h"
#include "plugin/Globals.h"
#include "reverb/Reverb.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Counter.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
const char* const WindowTitle = "Configure Talvane SPU Plugin";

// Polls a condition inside the critical section, for at most timeoutMs.
bool eventuallyInCS(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    for (int waited = 0;; waited += 10)
    {
        enterCS();
        const bool met = condition();
        leaveCS();
        if (met)
            return true;
        if (waited >= timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool eventually(const std::atomic<bool>& flag, int timeoutMs = 5000)
{
    for (int waited = 0; waited < timeoutMs && !flag; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return flag;
}

void renderFrames(unsigned long frames)
{
    std::vector<short> buffer(2 * frames);
    enterCS();
    theAudioOut.playSounds(buffer.data(), frames);
    leaveCS();
}

// The window thread of the output start: clears the two flags, then runs the window.
class WindowThread
{
public:
    explicit WindowThread(bool closeBeforeStart = false)
    {
        theConfig.Config::showRealtimeConfigDialog();
        if (closeBeforeStart)
            theConfig.destroyRealtimeConfigDialog();
        thread = std::thread([this] {
            result = theConfig.showRealtimeConfigDialog();
            ended = true;
        });
    }

    // Closes as the output stop does; true when the thread ended in time.
    bool close()
    {
        theConfig.destroyRealtimeConfigDialog();
        return eventually(ended);
    }

    ~WindowThread()
    {
        if (!ended)
            theConfig.destroyRealtimeConfigDialog();
        if (eventually(ended))
            thread.join();
        else
            thread.detach();
    }

    std::atomic<bool> ended{false};
    int result = 0;

private:
    std::thread thread;
};

class RealtimeConfigDialogTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { server = sharedXServer(&serverError); }

    void SetUp() override
    {
        ASSERT_TRUE(dir.enter()) << dir.error();
        theConfig.setDefaultValue();
        theConfig.updateConfigValue();
        theSPU.init();
    }

    void TearDown() override
    {
        if (!dir.close())
            ADD_FAILURE() << dir.error();
        theConfig.setDefaultValue();
        theConfig.updateConfigValue();
    }

    void requireServer() { ASSERT_NE(server, nullptr) << serverError; }

    static XServer* server;
    static std::string serverError;
    ScratchDir dir{ScratchDir::StayPut, "spu-realtime"};
};

XServer* RealtimeConfigDialogTest::server = nullptr;
std::string RealtimeConfigDialogTest::serverError;

const int RecordButton[2] = {470, 217};
const int ReverbChoice[2] = {458, 110};
} // namespace

TEST_F(RealtimeConfigDialogTest, WindowHidesOKAndCancelAndOffersRecord)
{
    requireServer();
    WindowThread window;
    const std::string id = findWindow(WindowTitle);
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(windowSize(id), "515x235");
    screenshot("realtime-window");
    lockDialogs();
    EXPECT_FALSE(pflOK->visible());
    EXPECT_FALSE(pflCancel->visible());
    EXPECT_STREQ(pflDefault->label(), "Record");
    EXPECT_FALSE(pflAudioDevice->active());
    EXPECT_FALSE(pflShowRealtimeConfigWindow->active());
    EXPECT_FALSE(pflCacheVagDecode->active());
    EXPECT_TRUE(pflFinetune->active());
    Fl::unlock();
    EXPECT_TRUE(window.close());
    EXPECT_TRUE(windowGone(WindowTitle));
}

TEST_F(RealtimeConfigDialogTest, ReverbTypeChangeAppliesWhileSoundRenders)
{
    requireServer();
    std::atomic<bool> stop(false);
    std::atomic<long> rendered(0);
    std::thread renderer([&] {
        while (!stop)
        {
            renderFrames(64);
            rendered += 64;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    WindowThread window;
    const std::string id = findWindow(WindowTitle);
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(eventuallyInCS([] { return Reverb::ConfigReverbType == 4; }, 0));

    clickAt(id, ReverbChoice[0], ReverbChoice[1]);
    screenshot("realtime-reverb-menu");
    // The menu holds the keyboard while it is open: no pointer move before the keys.
    runCommand("xdotool key --delay 80 Up Return");
    EXPECT_TRUE(eventuallyInCS([] { return Reverb::ConfigReverbType == 3 && theConfig.ReverbType == 3; }));
    const long before = rendered;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_GT(rendered.load(), before) << "rendering stalled";

    stop = true;
    renderer.join();
    EXPECT_TRUE(window.close());
}

TEST_F(RealtimeConfigDialogTest, RecordTwiceWritesAValidLog)
{
    requireServer();
    WindowThread window;
    const std::string id = findWindow(WindowTitle);
    ASSERT_FALSE(id.empty());

    clickAt(id, RecordButton[0], RecordButton[1]);
    ASSERT_TRUE(eventuallyInCS([] { return theRecord != nullptr; }));
    lockDialogs();
    EXPECT_STREQ(pflDefault->label(), "Recording...");
    EXPECT_FALSE(pflRecOption->active());
    Fl::unlock();
    screenshot("realtime-recording");
    renderFrames(441);

    clickAt(id, RecordButton[0], RecordButton[1]);
    ASSERT_TRUE(eventuallyInCS([] { return theRecord == nullptr; }));
    lockDialogs();
    EXPECT_STREQ(pflDefault->label(), "Record");
    EXPECT_TRUE(pflRecOption->active());
    Fl::unlock();

    // No host events were made: the log is the snapshot, the register image and
    // the duration, the frames rendered while it ran.
    std::ifstream log("spulog.spu", std::ios::binary);
    ASSERT_TRUE(log.good());
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 0x80204u);
    const uint32_t duration = bytes[0x80200] | bytes[0x80201] << 8 | bytes[0x80202] << 16 |
                              static_cast<uint32_t>(bytes[0x80203]) << 24;
    EXPECT_EQ(duration, 441u);
    EXPECT_TRUE(window.close());
}

// A transfer left half-way (one word into an 8-byte unit) does not settle within
// 100 ms: the user is asked, and "No" (Escape) records nothing, "Yes" (Enter) does.
TEST_F(RealtimeConfigDialogTest, UnsettledTransferAsksBeforeRecording)
{
    requireServer();
    enterCS();
    theSPU.writeRegister(0x1F801DA6, 0x100);
    theSPU.writeDMA(0x1234);
    const bool unsettled = !theSPU.ChkXferAlignment();
    leaveCS();
    ASSERT_TRUE(unsettled);
    WindowThread window;
    const std::string id = findWindow(WindowTitle);
    ASSERT_FALSE(id.empty());

    std::string before = shownWindows();
    clickAt(id, RecordButton[0], RecordButton[1]);
    std::string question = newWindow(before);
    ASSERT_FALSE(question.empty()) << "no question appeared";
    screenshot("realtime-record-question");
    pressKeys(question, "Escape");
    ASSERT_TRUE(windowIdGone(question));
    EXPECT_TRUE(eventuallyInCS([] { return theRecord == nullptr; }, 0));
    EXPECT_FALSE(std::ifstream("spulog.spu").good());

    before = shownWindows();
    clickAt(id, RecordButton[0], RecordButton[1]);
    question = newWindow(before);
    ASSERT_FALSE(question.empty()) << "no question appeared";
    pressKeys(question, "Return");
    ASSERT_TRUE(eventuallyInCS([] { return theRecord != nullptr; }));
    clickAt(id, RecordButton[0], RecordButton[1]);
    EXPECT_TRUE(eventuallyInCS([] { return theRecord == nullptr; }));
    EXPECT_TRUE(std::ifstream("spulog.spu").good());
    EXPECT_TRUE(window.close());
}

// A log that cannot be created (here a folder is in its way, which stops root as
// well) is reported in an alert, and nothing records.
TEST_F(RealtimeConfigDialogTest, LogThatCannotBeCreatedIsReported)
{
    requireServer();
    ASSERT_EQ(mkdir("spulog.spu", 0755), 0);
    WindowThread window;
    const std::string id = findWindow(WindowTitle);
    ASSERT_FALSE(id.empty());

    const std::string before = shownWindows();
    clickAt(id, RecordButton[0], RecordButton[1]);
    const std::string alert = newWindow(before);
    ASSERT_FALSE(alert.empty()) << "no alert appeared";
    screenshot("realtime-record-alert");
    pressKeys(alert, "Return");
    EXPECT_TRUE(windowIdGone(alert));
    EXPECT_TRUE(eventuallyInCS([] { return theRecord == nullptr; }, 0));
    lockDialogs();
    EXPECT_STREQ(pflDefault->label(), "Record");
    EXPECT_TRUE(pflRecOption->active());
    Fl::unlock();
    EXPECT_TRUE(window.close());
}

TEST_F(RealtimeConfigDialogTest, CloseRequestClosesTheWindowPromptly)
{
    requireServer();
    WindowThread window;
    ASSERT_FALSE(findWindow(WindowTitle).empty());
    ASSERT_TRUE(window.close());
    EXPECT_EQ(window.result, 2);
    EXPECT_TRUE(windowGone(WindowTitle));
}

TEST_F(RealtimeConfigDialogTest, CloseRequestDuringSetUpKeepsTheWindowUnshown)
{
    requireServer();
    WindowThread window(true);
    ASSERT_TRUE(eventually(window.ended));
    EXPECT_EQ(window.result, 2);
    EXPECT_TRUE(findWindow(WindowTitle, 300).empty());
}

// A host that asks for the configuration dialog or the about box while the
// real-time window is open must not get a second loop that waits for the first.
TEST_F(RealtimeConfigDialogTest, OtherDialogsAreRefusedWhileTheWindowIsOpen)
{
    requireServer();
    WindowThread window;
    ASSERT_FALSE(findWindow(WindowTitle).empty());
    // Shared with the host thread, which is left behind if it never returns.
    struct Outcome
    {
        std::atomic<bool> returned{false};
        int configResult = 0;
    };
    auto outcome = std::make_shared<Outcome>();
    std::thread host([outcome] {
        outcome->configResult = theConfig.showConfigDialog();
        theConfig.showAboutDialog();
        outcome->returned = true;
    });
    const bool refused = eventually(outcome->returned);
    if (refused)
        host.join();
    else
        host.detach();
    ASSERT_TRUE(refused);
    EXPECT_EQ(outcome->configResult, 2);
    EXPECT_TRUE(findWindow("About Talvane SPU Plugin", 300).empty());
    EXPECT_FALSE(findWindow(WindowTitle).empty());
    EXPECT_TRUE(window.close());
}

// The callback itself, on a window that is built but not shown.
class RealtimeConfigDialogProcTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        theConfig.setDefaultValue();
        theConfig.updateConfigValue();
        ConfigLinux::thisConfig = &theConfig;
        buildConfigDialog(RealtimeConfigDialogProc);
        setDialogValue();
        theConfig.bRealtimeDialogReady = true;
    }

    void TearDown() override
    {
        // A method or buffer-size change restarts the output: stop what it started,
        // or the next test in this process finds it running.
        stopAudioOutThread();
        deleteConfigDialog();
        theConfig.setDefaultValue();
        theConfig.updateConfigValue();
    }
};

TEST_F(RealtimeConfigDialogProcTest, ChangesBeforeTheSetUpEndsAreNotApplied)
{
    theConfig.bRealtimeDialogReady = false;
    pflReverbType->value(1);
    RealtimeConfigDialogProc(pflReverbType, nullptr);
    EXPECT_EQ(Reverb::ConfigReverbType, 4);
    EXPECT_EQ(theConfig.ReverbType, 4);

    theConfig.bRealtimeDialogReady = true;
    RealtimeConfigDialogProc(pflReverbType, nullptr);
    EXPECT_EQ(Reverb::ConfigReverbType, 1);
}

TEST_F(RealtimeConfigDialogProcTest, BufferSizeReachesTheDeviceStatic)
{
    pflBufferSize->value(100);
    RealtimeConfigDialogProc(pflBufferSize, nullptr);
    EXPECT_EQ(AudioDevice::ConfigSoundBufferSize, 100);
    EXPECT_EQ(theConfig.SoundBufferSize, 100);
    // The restart started the pacing of the configured method; stop it before the
    // engine it drives is destroyed at exit.
    stopAudioOutThread();
}

TEST_F(RealtimeConfigDialogProcTest, AudioOutMethodChangeTogglesWidgetsAndApplies)
{
    pflAudioOutMethod->value(2);
    pflAsyncMode->value(2);
    RealtimeConfigDialogProc(pflAudioOutMethod, nullptr);
    EXPECT_TRUE(pflAsyncMode->active());
    EXPECT_FALSE(pflWaitForXABufferIsFree->active());
    EXPECT_EQ(theConfig.AudioOutMethod, 2);
    EXPECT_EQ(AudioOut::ConfigAsyncMode, 2);
}

TEST_F(RealtimeConfigDialogProcTest, CloseButtonEndsTheWindow)
{
    dialogResult = 1;
    RealtimeConfigDialogProc(pflConfigWindow, nullptr);
    EXPECT_EQ(dialogResult, 2);
    EXPECT_FALSE(pflConfigWindow->shown());
}
