// The PSEmu Pro entry points. Each one is thin: it takes the critical section where
// the SPU state is touched, logs to the event recorder when one runs, signals that
// the CPU has acted where the host touched registers or DMA, and forwards to the
// global objects.

#include "audio/AudioOutThread.h"
#include "audio/CriticalSection.h"
#include "plugin/Exports.h"
#include "plugin/Freeze.h"
#include "plugin/Globals.h"
#include "record/RecordControl.h"

#include <algorithm>
#include <cstring>

#define SPU_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{
void* hInstance = nullptr; // the module handle of the Windows interface; never set here

// About a millisecond of the heaviest frames: the longest SPUrender holds the
// critical section at once.
const unsigned long RenderSliceFrames = 1024;
} // namespace

SPU_EXPORT const char* PSEgetLibName()
{
    return "Talvane SPU Plugin";
}

SPU_EXPORT unsigned long PSEgetLibType()
{
    return 4; // sound processor
}

SPU_EXPORT unsigned long PSEgetLibVersion()
{
    return 0x00010129; // version 1, revision 1, build 41
}

SPU_EXPORT void* getHinstance()
{
    return hInstance;
}

SPU_EXPORT long SPUinit()
{
    initCS();
    theConfig.loadConfig();
    theConfig.updateConfigValue();
    StreamSound::ConfigWaitForXABufferIsFree = 0;
    theSPU.init();
    return 0;
}

SPU_EXPORT long SPUopen(...)
{
    // Inside the section: on an SPUopen while already open the pacing thread reads
    // these statics as they change.
    enterCS();
    theConfig.updateConfigValue();
    leaveCS();
    startAudioOut();
    return 0;
}

SPU_EXPORT long SPUclose()
{
    // theRecord is only read and changed inside the critical section: the real-time
    // window's thread may be starting a recording at the same moment.
    enterCS();
    stopRecording(theRecord);
    leaveCS();
    stopAudioOut();
    return 0;
}

SPU_EXPORT long SPUshutdown()
{
    deleteCS();
    return 0;
}

SPU_EXPORT long SPUtest()
{
    return 0;
}

SPU_EXPORT long SPUconfigure()
{
    theConfig.loadConfig();
    if (theConfig.showConfigDialog() == 1)
        theConfig.saveConfig();
    return 0;
}

SPU_EXPORT long SPUabout()
{
    return theConfig.showAboutDialog();
}

SPU_EXPORT void SPUwriteRegister(unsigned long address, unsigned short value)
{
    enterCS();
    if (theRecord != nullptr)
        theRecord->logREGwrite(address, value);
    theAudioOut.CPUaction();
    theSPU.writeRegister(address, value);
    leaveCS();
}

SPU_EXPORT unsigned short SPUreadRegister(unsigned long address)
{
    enterCS();
    if (theRecord != nullptr)
        theRecord->logREGread(address);
    theAudioOut.CPUaction();
    // At least one frame, so that the voice state read back is current.
    if (theConfig.getConfigUpdateBeforeRegisterAccess() != 0)
        theAudioOut.async(0, 1);
    const unsigned short value = theSPU.readRegister(address);
    leaveCS();
    return value;
}

SPU_EXPORT void SPUwriteDMA(unsigned short value)
{
    enterCS();
    if (theRecord != nullptr)
        theRecord->logDMAwrite(&value, 1);
    theAudioOut.CPUaction();
    theSPU.writeDMA(value);
    leaveCS();
}

SPU_EXPORT unsigned short SPUreadDMA()
{
    enterCS();
    if (theRecord != nullptr)
        theRecord->logDMAread(1);
    theAudioOut.CPUaction();
    const unsigned short value = theSPU.readDMA();
    leaveCS();
    return value;
}

SPU_EXPORT void SPUwriteDMAMem(unsigned short* source, int count)
{
    enterCS();
    if (theRecord != nullptr)
        theRecord->logDMAwrite(source, count);
    theAudioOut.CPUaction();
    theSPU.writeDMAMemory(source, count);
    leaveCS();
}

SPU_EXPORT void SPUreadDMAMem(unsigned short* destination, int count)
{
    enterCS();
    if (theRecord != nullptr)
        theRecord->logDMAread(count);
    theAudioOut.CPUaction();
    theSPU.readDMAMemory(destination, count);
    leaveCS();
}

SPU_EXPORT void SPUplayADPCMchannel(xa_decode_t* xa)
{
    playADPCMchannel(xa);
}

SPU_EXPORT void SPUplayCDDAchannel(short* data, int length)
{
    playCDDAchannel(data, length);
}

SPU_EXPORT void SPUregisterCallback(void (*callback)(void))
{
    enterCS();
    theAudioOut.setexecuteSPUIRQ(callback);
    leaveCS();
}

SPU_EXPORT void SPUregisterCDDAVolume(void (*)(unsigned short, unsigned short))
{
    // Accepted and never called.
    enterCS();
    leaveCS();
}

SPU_EXPORT void SPUasync(unsigned long cycles)
{
    // Only the "SPUasync" method lets the host pace output. Values beyond the three
    // methods start no thread or timer either, so they are paced here as well. The
    // method is read inside the section: the real-time window may change it.
    enterCS();
    const int method = theConfig.getConfigAudioOutMethod();
    if (method != 0 && method != 1)
        theAudioOut.async(cycles, 0);
    leaveCS();
}

SPU_EXPORT void SPUupdate()
{
    SPUasync(68928);
}

SPU_EXPORT void SPUrender(short* buffer, unsigned long length)
{
    const unsigned long frames = length / 4;
    if (buffer == nullptr || frames == 0)
        return;
    // In slices, leaving the critical section between them: a host may ask for
    // seconds of sound in one call, and the pacing thread must not wait that long.
    unsigned long done = 0;
    while (done < frames)
    {
        const unsigned long slice = std::min(frames - done, RenderSliceFrames);
        enterCS();
        const unsigned long rendered = theAudioOut.playSounds(buffer + 2 * done, slice);
        leaveCS();
        done += rendered;
        if (rendered < slice)
            break; // "SPU IRQ - Wait CPU action": held at an interrupt until the CPU acts
    }
    // The frames that the hold keeps from being rendered are silence, not whatever
    // the host's buffer held.
    std::memset(buffer + 2 * done, 0, (frames - done) * 4);
}

SPU_EXPORT long SPUfreeze(unsigned long mode, SPUFreeze_t* record)
{
    return freezeSPU(mode, record);
}

SPU_EXPORT unsigned short SPUgetOne(unsigned long)
{
    return 0;
}

// Present only so that hosts that look them up find them.
SPU_EXPORT void SPUputOne(unsigned long, unsigned short) {}
SPU_EXPORT void SPUsetAddr(int, unsigned short) {}
SPU_EXPORT void SPUsetPitch(int, unsigned short) {}
SPU_EXPORT void SPUsetVolumeL(int, short) {}
SPU_EXPORT void SPUsetVolumeR(int, short) {}
SPU_EXPORT void SPUstartChannels1(unsigned short) {}
SPU_EXPORT void SPUstartChannels2(unsigned short) {}
SPU_EXPORT void SPUstopChannels1(unsigned short) {}
SPU_EXPORT void SPUstopChannels2(unsigned short) {}
SPU_EXPORT void SPUplaySample(unsigned char) {}
SPU_EXPORT void SPUplaySector(unsigned long, unsigned char*) {}
