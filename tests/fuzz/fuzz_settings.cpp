// The settings file: any bytes as ./cfg/spuTalvane.cfg, loaded as SPUinit loads
// it, then a scene of the demo tune played under those settings through the
// exports and the output engine, then a save and a load that must give back the
// same values.

#include "audio/CriticalSection.h"
#include "fuzz/CallSequence.h"
#include "fuzz/DemoScenes.h"
#include "fuzz/PluginHost.h"
#include "fuzz/Watchdog.h"
#include "plugin/Globals.h"

#include <cstdio>
#include <string>
#include <vector>

namespace
{
std::vector<uint8_t> scene;

void playScene()
{
    fuzz::placeDemoInstruments();
    fuzz::runCalls(scene.data(), scene.size());
    // Pacing ticks as the thread makes them (1 ms each).
    for (int tick = 0; tick < 2; ++tick)
    {
        if (AudioOut::ConfigAsyncMode == 1)
            fuzz::device().drainTo(theAudioOut.getWritePosition());
        enterCS();
        theAudioOut.async(33868, 0);
        leaveCS();
        fuzz::device().drain(40);
    }
}

int values(const Config& c, int i)
{
    const int fields[13] = {c.AudioDevice,
                            c.SoundBufferSize,
                            c.AudioOutMethod,
                            c.AsyncMode,
                            c.ShowRealtimeConfigWindow,
                            c.WaitForXABufferIsFree,
                            c.CacheVagDecode,
                            c.Finetune,
                            c.ReverbType,
                            c.RecOpt,
                            c.UpdateBeforeRegisterAccess,
                            c.SPUIRQWaitCPUAction,
                            c.SPUIRQForceInterruptFlag7};
    return fields[i];
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::startPlugin();
    fuzz::silencePluginOutput();
    fuzz::CallWriter writer;
    const size_t setup = fuzz::demoSetupEnd();
    fuzz::writeDemo(writer, setup, setup + 24, 4, 0);
    writer.readRegister(0x1F801C0C);
    writer.readRegister(0x1F801D9C);
    writer.async(768 * 32);
    writer.render(16);
    scene.assign(writer.data().begin() + fuzz::CallWriter::HeadSize, writer.data().end());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::watched([data, size] {
        FILE* file = std::fopen(ConfigLinuxPSEmuPro::CfgFile, "wb");
        if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
            fuzz::fail("cannot write the settings file");
        fuzz::resetPlugin(fuzz::Settings());
        theConfig.loadConfig();
        fuzz::applySettings();
        fuzz::restartOutput();
        playScene();

        int loaded[13];
        for (int i = 0; i < 13; ++i)
            loaded[i] = values(theConfig, i);
        theConfig.saveConfig();
        theConfig.loadConfig();
        for (int i = 0; i < 13; ++i)
            if (loaded[i] != values(theConfig, i))
                fuzz::fail("setting " + std::to_string(i) + " read back as " +
                           std::to_string(values(theConfig, i)) + " after it was saved as " +
                           std::to_string(loaded[i]));
    });
    return 0;
}
