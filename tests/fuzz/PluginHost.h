#pragma once

// The plugin as the fuzz targets drive it: in this process, through its exported
// functions, with its global objects rebuilt between inputs so that every input
// starts from the state a freshly loaded plugin has after SPUinit. Output goes to
// a stand-in device whose play cursor moves only when the input says so; no thread
// of the plugin runs.

#include "audio/AudioDevice.h"

#include <memory>
#include <string>

class Plugin;

namespace fuzz
{
// The settings an input starts with (the fields of the settings file).
struct Settings
{
    int reverbType = 4;
    int cacheVagDecode = 0;
    int finetune = 0;
    int waitCPUAction = 0;
    int forceInterruptFlag7 = 0;
    int updateBeforeRegisterAccess = 0;
    int asyncMode = 0;
    int audioOutMethod = 2;
    int soundBufferSize = 64;
    int recOpt = 0x3F;
};

// A ring of frames that the output engine fills and that plays only by drain().
// Like the real devices' ring it has an overflow area of another ring's length
// behind it, which unlock folds back to the start. The cells are kept from one
// input to the next while the size stays (fresh pages are costly), but are always
// exactly as many as the ring needs, so that a write past them is caught.
class StandInDevice : public AudioDevice
{
public:
    bool init() override;
    bool close() override { return true; }
    bool start() override { return true; }
    bool stop() override { return true; }
    unsigned long getCurrentPosition() override { return play; }
    void* lock(unsigned long position, unsigned long length) override;
    void unlock() override;

    // Plays frames (at most the ring), as a device's drain would.
    void drain(unsigned long frames);
    // Plays what is queued up to the engine's write position.
    void drainTo(unsigned long writePosition);

private:
    unsigned long play = 0;
    unsigned long lockPosition = 0;
    unsigned long lockLength = 0;
};

// Once per process: a scratch working folder (the plugin reads and writes
// ./cfg/spuTalvane.cfg and the recorder ./spulog.spu there) and SPUinit.
void startPlugin();
// Sends the plugin's diagnostics on standard output (a line for every pitch
// register written with more than 14 bits, say) to /dev/null: printed for every
// input, they cost more than the input. libFuzzer reports on standard error.
void silencePluginOutput();

// Rebuilds theSPU and theAudioOut, applies the settings as SPUopen would (waiting
// for XA room off: nothing drains the stream while an input runs), resets the SPU,
// starts the output engine on a new stand-in device and registers a counting IRQ
// callback. Stops a recording left running.
void resetPlugin(const Settings& settings);
// The settings currently in theConfig, copied to the class statics (waiting for
// XA room off).
void applySettings();
// A new stand-in device of the configured ring size, started.
void restartOutput();
StandInDevice& device();
int& interruptCount();
void countInterrupt();

// The plugin's exports as a Plugin of the host tool, without dlopen.
void linkExports(Plugin& plugin);

// The harness's own checks: a failure prints what was expected and aborts, so
// that the fuzzer keeps the input.
[[noreturn]] void fail(const std::string& what);

// The demo's instruments (ADPCM blocks), read from the source tree.
const std::string& demoInstruments();
} // namespace fuzz
