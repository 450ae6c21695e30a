#include "config/Config.h"

#include "audio/AudioDevice.h"
#include "audio/AudioOut.h"
#include "record/Record.h"
#include "reverb/Reverb.h"
#include "synth/StreamSound.h"
#include "synth/VagBlock.h"
#include "synth/Voice.h"

#include <cmath>

const char* const Config::combostrAudioDevice[3] = {"DirectSound", "SDL", "Wave Mapper"};
const char* const Config::combostrAudioOutMethod[3] = {"Thread", "Timer", "SPUasync"};
const char* const Config::combostrAsyncMode[3] = {"Simple", "Wait", "Smooth"};
const char* const Config::combostrReverbType[5] = {"Off", "TiMidity", "Freeverb", "Ulma's", "Brask's"};
Config* Config::thisConfig = nullptr;

Config::Config() : bRealtimeDialogReady(false), bRealtimeDialogClose(false)
{
    setDefaultValue();
}

Config::~Config() {}

// Pure virtual operations with a body: the derived classes chain to them.
void Config::loadConfig() {}
int Config::saveConfig()
{
    return 0;
}
int Config::showConfigDialog()
{
    return 0;
}
int Config::showRealtimeConfigDialog()
{
    bRealtimeDialogReady = false;
    bRealtimeDialogClose = false;
    return 0;
}
int Config::showAboutDialog()
{
    return 0;
}

void Config::setDefaultValue()
{
    AudioDevice = 3;
    SoundBufferSize = 64;
    AudioOutMethod = 0;
    AsyncMode = 0;
    ShowRealtimeConfigWindow = 0;
    WaitForXABufferIsFree = 1;
    CacheVagDecode = 0;
    Finetune = 0;
    ReverbType = 4;
    RecOpt = 5;
    UpdateBeforeRegisterAccess = 0;
    SPUIRQWaitCPUAction = 0;
    SPUIRQForceInterruptFlag7 = 0;
}

void Config::updateConfigValue()
{
    ::AudioOut::ConfigAudioDevice = AudioDevice;
    ::AudioDevice::ConfigSoundBufferSize = SoundBufferSize;
    // The async corrections only make sense when the host paces output (SPUasync),
    // and waiting for XA room only when the plugin's own thread or timer drains it.
    ::AudioOut::ConfigAsyncMode = AudioOutMethod > 1 ? AsyncMode : 0;
    StreamSound::ConfigWaitForXABufferIsFree =
        (AudioOutMethod == 0 || AudioOutMethod == 1) ? WaitForXABufferIsFree : 0;
    VagBlock::ConfigCacheVagDecode = CacheVagDecode;
    Voice::ConfigFinetune = Finetune;
    // Tenths of a semitone: 120 per octave. The file is not range-checked, so a
    // rate beyond the int range saturates instead of overflowing the conversion.
    const double rate = std::pow(2.0, Finetune / 10.0 / 12.0) * 32767.0;
    Voice::ConfigFinetuneRate = rate >= 2147483647.0 ? 2147483647 : static_cast<int>(rate);
    Reverb::ConfigReverbType = ReverbType;
    Record::ConfigRecOpt = RecOpt;
    ::AudioOut::ConfigSPUIRQWaitCPUAction = SPUIRQWaitCPUAction;
    Voice::ConfigSPUIRQForceInterruptFlag7 = SPUIRQForceInterruptFlag7;
}
