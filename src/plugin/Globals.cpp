#include "plugin/Globals.h"

#include "audio/AudioOutThread.h"
#include "audio/CriticalSection.h"
#include "config/RealtimeConfigDialog.h"
#include "record/RecordControl.h"

#include <ctime>

namespace
{
unsigned long renderedFrames()
{
    return theSPU.getCurrentTickCount();
}

// A chunk waiting for room lets the renderer run: the section is left around a
// yield of the processor.
void letRendererRun()
{
    leaveCS();
    timespec zero = {0, 0};
    timespec rest;
    if (nanosleep(&zero, &rest) != 0)
        nanosleep(&rest, nullptr);
    enterCS();
}

int configuredAudioOutMethod()
{
    return theConfig.getConfigAudioOutMethod();
}

void openRealtimeWindow()
{
    startRealtimeConfigWindow(theConfig);
}

bool isRecording()
{
    return theRecord != nullptr;
}

bool startRecordingTheSPU()
{
    return startRecording(theSPU, theRecord);
}

void stopTheRecording()
{
    stopRecording(theRecord);
}
} // namespace

// One translation unit, so the construction order is the order written here.
ConfigLinuxPSEmuPro theConfig;
AudioOut theAudioOut;
SPU theSPU;
SPUDebug theSPUDebug;
Record* theRecord = nullptr;
StreamQueue theStreamQueue(theSPU.getStream(), renderedFrames, letRendererRun);

namespace
{
struct ConnectLayers
{
    ConnectLayers()
    {
        theAudioOut.setFrameSource(theSPU);
        setAudioOutPacing(
            {&theAudioOut, configuredAudioOutMethod, openRealtimeWindow, stopRealtimeConfigWindow});
        setRealtimeRecording({isRecording, startRecordingTheSPU, stopTheRecording});
    }
} connectLayers;
} // namespace

void playADPCMchannel(xa_decode_t* xa)
{
    enterCS();
    if (theRecord != nullptr)
        theRecord->logXAplay(xa);
    theStreamQueue.playADPCMchannel(xa);
    leaveCS();
}

void playCDDAchannel(const short* data, int length)
{
    enterCS();
    if (theRecord != nullptr)
        theRecord->logCDDAplay(data, length);
    theStreamQueue.playCDDAchannel(data, length);
    leaveCS();
}
