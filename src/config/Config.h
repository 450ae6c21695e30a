#pragma once

#include <atomic>

// The thirteen user settings. The file and the dialogs edit them here; the rest of
// the system reads the class statics that updateConfigValue copies them into.
class Config
{
public:
    static const int I_LOWEST = 1;
    static const int I_HIGHEST = 999;
    static const char* const combostrAudioDevice[3];
    static const char* const combostrAudioOutMethod[3];
    static const char* const combostrAsyncMode[3];
    static const char* const combostrReverbType[5];
    // The configuration the open dialog edits, set by the platform's class when it
    // shows one (so the dialogs need not know that class).
    static Config* thisConfig;

    Config();
    virtual ~Config();

    virtual void loadConfig() = 0;
    virtual int saveConfig() = 0;
    virtual int showConfigDialog() = 0;
    virtual int showRealtimeConfigDialog() = 0;
    virtual void destroyRealtimeConfigDialog() {}
    virtual int showAboutDialog() = 0;

    void setDefaultValue();
    void updateConfigValue();
    int getConfigAudioOutMethod() const { return AudioOutMethod; }
    int getConfigShowRealtimeConfigWindow() const { return ShowRealtimeConfigWindow; }
    int getConfigUpdateBeforeRegisterAccess() const { return UpdateBeforeRegisterAccess; }

    // The values, named as their keys in the file, in file order.
    int AudioDevice;
    int SoundBufferSize;
    int AudioOutMethod;
    int AsyncMode;
    int ShowRealtimeConfigWindow;
    int WaitForXABufferIsFree;
    int CacheVagDecode;
    int Finetune;
    int ReverbType;
    int RecOpt;
    int UpdateBeforeRegisterAccess;
    int SPUIRQWaitCPUAction;
    int SPUIRQForceInterruptFlag7;

    // A flag shared by the host's thread and the real-time window's thread, hence
    // atomic; copying a configuration copies its current value.
    struct SharedFlag : std::atomic<bool>
    {
        using std::atomic<bool>::operator=;
        explicit SharedFlag(bool value) : std::atomic<bool>(value) {}
        SharedFlag(const SharedFlag& other) : std::atomic<bool>(other.load()) {}
        SharedFlag& operator=(const SharedFlag& other)
        {
            store(other.load());
            return *this;
        }
    };

    // State of the real-time window: set-up finished, close requested.
    SharedFlag bRealtimeDialogReady;
    SharedFlag bRealtimeDialogClose;
};
