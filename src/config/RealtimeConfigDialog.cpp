#include "config/RealtimeConfigDialog.h"

#include "audio/AudioOutThread.h"
#include "audio/CriticalSection.h"
#include "audio/HostSignalBlock.h"
#include "config/Config.h"
#include "config/ConfigDialog.h"
#include "config/RecordDialog.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Counter.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>

#include <pthread.h>

namespace
{
// Until the plugin hands over its recorder: never recording, and none to start.
bool noRecorder()
{
    return false;
}

void nothingToStop() {}

RealtimeRecording recorder = {noRecorder, noRecorder, nothingToStop};

pthread_t hRealtimeConfigThread;
bool realtimeConfigThreadCreated = false;
Config* realtimeConfig = nullptr;

void* RealtimeConfigWindowThread(void*)
{
    pthread_setname_np(pthread_self(), "spu-realtime");
    realtimeConfig->showRealtimeConfigDialog();
    return nullptr;
}

void applyDialogValue()
{
    getDialogValue();
    Config::thisConfig->updateConfigValue();
}

// The "Thread" and "Timer" stops need the critical section themselves (the pacing
// thread finishes its iteration in it before it can be joined, and the timer stop
// enters it), and the section does not nest: leave it around them.
void stopOutput()
{
    const int method = Config::thisConfig->getConfigAudioOutMethod();
    if (method == 0 || method == 1)
    {
        leaveCS();
        stopAudioOutThread();
        enterCS();
    }
    else
        stopAudioOutThread();
}

void showRecording(bool recording)
{
    pflDefault->label(recording ? "Recording..." : "Record");
    pflDefault->redraw();
    if (recording)
        pflRecOption->deactivate();
    else
        pflRecOption->activate();
}

void toggleRecording()
{
    if (recorder.isRecording())
    {
        recorder.stop();
        showRecording(false);
    }
    else if (recorder.start())
        showRecording(true);
}

bool isAppliedAtOnce(const Fl_Widget* widget)
{
    return widget == pflFinetune || widget == pflAsyncMode || widget == pflReverbType ||
           widget == pflShowRealtimeConfigWindow || widget == pflWaitForXABufferIsFree ||
           widget == pflCacheVagDecode || widget == pflUpdateBeforeRegisterAccess ||
           widget == pflSPUIRQWaitCPUAction || widget == pflSPUIRQForceInterruptFlag7;
}
} // namespace

bool setUpRealtimeConfigDialog()
{
    Config* config = Config::thisConfig;
    enterCS();
    config->bRealtimeDialogReady = false;
    setDialogValue();
    pflOK->hide();
    pflCancel->hide();
    pflDefault->label("Record");
    pflDefault->redraw();
    pflAudioDevice->deactivate();
    pflShowRealtimeConfigWindow->deactivate();
    pflCacheVagDecode->deactivate();
    config->bRealtimeDialogReady = true;
    leaveCS();
    return !config->bRealtimeDialogClose;
}

void RealtimeConfigDialogProc(Fl_Widget* widget, void*)
{
    enterCS();
    if (widget == pflRecOption)
    {
        leaveCS();
        makeRecordDialog(Config::thisConfig->RecOpt);
        enterCS();
    }
    else if (widget == pflCancel || widget == pflConfigWindow)
    {
        dialogResult = 2;
        destroyConfigDialog();
    }
    else if (widget == pflDefault)
        toggleRecording();
    else if (!Config::thisConfig->bRealtimeDialogReady)
    {
        // Changes made while the set-up writes the widgets are not applied.
    }
    else if (widget == pflBufferSize)
    {
        // A ring of the new size is made only when the output restarts.
        applyDialogValue();
        stopOutput();
        startAudioOutThread();
    }
    else if (widget == pflAudioOutMethod)
    {
        activateForAudioOutMethod(pflAudioOutMethod->value());
        stopOutput();
        applyDialogValue();
        startAudioOutThread();
    }
    else if (isAppliedAtOnce(widget))
        applyDialogValue();
    leaveCS();
}

void setRealtimeRecording(const RealtimeRecording& recording)
{
    recorder = recording;
}

void startRealtimeConfigWindow(Config& config)
{
    if (config.getConfigShowRealtimeConfigWindow() == 0)
        return;
    // The base class clears the window's two state flags.
    config.Config::showRealtimeConfigDialog();
    realtimeConfig = &config;
    const HostSignalBlock block;
    realtimeConfigThreadCreated =
        pthread_create(&hRealtimeConfigThread, nullptr, RealtimeConfigWindowThread, nullptr) == 0;
}

void stopRealtimeConfigWindow()
{
    if (!realtimeConfigThreadCreated)
        return;
    realtimeConfig->destroyRealtimeConfigDialog();
    pthread_join(hRealtimeConfigThread, nullptr);
    realtimeConfigThreadCreated = false;
}
