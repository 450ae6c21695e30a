#include "fuzz/PluginHost.h"

#include "audio/CriticalSection.h"
#include "plugin/Exports.h"
#include "plugin/Globals.h"
#include "record/RecordControl.h"
#include "synth/StreamSound.h"
#include "synth/Voice.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <unistd.h>
#include <vector>

namespace fuzz
{
namespace
{
StandInDevice* standIn = nullptr;
int interrupts = 0;

std::vector<unsigned int>& standInCells()
{
    static std::vector<unsigned int> cells;
    return cells;
}
} // namespace

bool StandInDevice::init()
{
    bufferSamples = configuredRingFrames();
    if (standInCells().size() != 2 * bufferSamples)
        standInCells().assign(2 * bufferSamples, 0);
    return true;
}

void* StandInDevice::lock(unsigned long position, unsigned long length)
{
    lockPosition = position;
    lockLength = length;
    return standInCells().data() + position;
}

void StandInDevice::unlock()
{
    const unsigned long end = lockPosition + lockLength;
    if (end > bufferSamples)
        std::memcpy(standInCells().data(), standInCells().data() + bufferSamples,
                    (end - bufferSamples) * sizeof(unsigned int));
}

void StandInDevice::drain(unsigned long frames)
{
    play = (play + (frames < bufferSamples ? frames : bufferSamples)) % bufferSamples;
}

void StandInDevice::drainTo(unsigned long writePosition)
{
    // Up to the frame before the write cursor: the engine takes equal cursors for a
    // full ring.
    const unsigned long stop = (writePosition + bufferSamples - 1) % bufferSamples;
    drain(stop >= play ? stop - play : stop + bufferSamples - play);
}

void startPlugin()
{
    char folder[] = "/tmp/spu-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0)
        fail("cannot make a scratch folder");
    SPUinit();
}

void silencePluginOutput()
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        fail("cannot send standard output to /dev/null");
}

void countInterrupt()
{
    ++interrupts;
}

int& interruptCount()
{
    return interrupts;
}

StandInDevice& device()
{
    return *standIn;
}

void applySettings()
{
    theConfig.updateConfigValue();
    StreamSound::ConfigWaitForXABufferIsFree = 0;
}

void restartOutput()
{
    theAudioOut.stop();
    theAudioOut.close();
    standIn = new StandInDevice;
    theAudioOut.init(standIn);
    theAudioOut.start();
}

void resetPlugin(const Settings& settings)
{
    enterCS();
    stopRecording(theRecord);
    leaveCS();

    // The globals are rebuilt where they live (the plugin and the tests name them
    // directly): every voice, envelope, reverb history and stream ring starts anew.
    theAudioOut.~AudioOut();
    new (&theAudioOut) AudioOut();
    theSPU.~SPU();
    new (&theSPU) SPU();
    Voice::NoiseState = 1;
    Voice::NoiseCount = 0;

    theConfig.setDefaultValue();
    theConfig.ReverbType = settings.reverbType;
    theConfig.CacheVagDecode = settings.cacheVagDecode;
    theConfig.Finetune = settings.finetune;
    theConfig.SPUIRQWaitCPUAction = settings.waitCPUAction;
    theConfig.SPUIRQForceInterruptFlag7 = settings.forceInterruptFlag7;
    theConfig.UpdateBeforeRegisterAccess = settings.updateBeforeRegisterAccess;
    theConfig.AsyncMode = settings.asyncMode;
    theConfig.AudioOutMethod = settings.audioOutMethod;
    theConfig.SoundBufferSize = settings.soundBufferSize;
    theConfig.RecOpt = settings.recOpt;
    applySettings();
    theSPU.init();

    restartOutput();
    interrupts = 0;
    SPUregisterCallback(countInterrupt);
}

void fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

const std::string& demoInstruments()
{
    static const std::string bytes = [] {
        std::ifstream in(SPU_SOURCE_DIR "/demo/instruments.adpcm", std::ios::binary);
        if (!in)
            fail("cannot read " SPU_SOURCE_DIR "/demo/instruments.adpcm");
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }();
    return bytes;
}
} // namespace fuzz
