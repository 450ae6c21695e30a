#pragma once

// One run of PCSX-Reloaded with the built plugin as its sound processor, headless:
// a scratch HOME with pcsxr's own configuration (HLE BIOS, software-free OpenGL
// GPU plugin, the BIOS's character output on), the package's other plugins linked
// into its plugin folder, and optionally the plugin's settings file in that
// folder's cfg/. The emulator's standard output and error are collected line by
// line as they come. Every wait is bounded; an emulator that outlives its last
// deadline is killed.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

class EmulatorRun
{
public:
    // `home` must be an empty scratch folder; `plugin` the built library.
    EmulatorRun(const std::string& home, const std::string& plugin);
    ~EmulatorRun();

    // The text of ~/.pcsxr/plugins/cfg/spuTalvane.cfg; without a call there is none.
    void writePluginSettings(const std::string& text);
    // Starts pcsxr on `program` (a PS-X EXE). With `privateDsp` (a file standing in
    // for the sound device) it runs in a private mount namespace where that file is
    // /dev/dsp.
    // `environment` entries are "NAME=value".
    bool start(const std::string& program, const std::string& privateDsp,
               const std::vector<std::string>& environment);
    // True once a line containing `text` was printed, false after timeoutMs.
    bool waitForLine(const std::string& text, int timeoutMs);
    // SIGINT, as Ctrl-C in the emulator's terminal, to its emulation thread.
    void interrupt();
    // The wait status of the emulator once it has ended, killing it after timeoutMs.
    int waitForExit(int timeoutMs);
    bool killedAfterDeadline() const { return killed; }
    struct ThreadMask
    {
        std::string name;
        unsigned long long blocked = 0; // bit n-1 for signal n
    };
    // The emulator's threads with their names and blocked signals, from /proc.
    std::vector<ThreadMask> threadMasks();
    std::vector<std::string> getLines();
    // When the first line containing `text` arrived; false if none did.
    bool lineTime(const std::string& text, std::chrono::steady_clock::time_point* when);
    std::string getOutput();
    std::string pluginFolder() const { return home + "/.pcsxr/plugins"; }

private:
    void readOutput(int fd);

    std::string home;
    pid_t pid = -1;
    int status = 0;
    bool exited = false;
    bool killed = false;
    std::thread reader;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;
    std::vector<std::chrono::steady_clock::time_point> lineTimes;
    std::string partial;
};
