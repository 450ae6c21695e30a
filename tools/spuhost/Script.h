#pragma once

#include "spuhost/Plugin.h"

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Runs a register script against a plugin: one command a line, '#' starts a
// comment, numbers hexadecimal (an optional 0x is accepted) unless said.
//
//   init | open | close | shutdown      SPUinit, SPUopen, SPUclose, SPUshutdown
//   w ADDR VALUE                        SPUwriteRegister
//   r ADDR                              SPUreadRegister; "r ADDR VVVV" to the reads file
//   dma W0 W1 ...                       SPUwriteDMAMem with those words
//   dmafile PATH                        SPUwriteDMAMem with the little-endian words of
//                                       a file (path relative to the script)
//   render N                            N frames (decimal) through SPUrender, appended
//                                       as S16LE stereo to the output file
//   async N                             SPUasync with N (decimal) cycles
//
// Errors name the script and line; run() then returns false.
class ScriptRunner
{
public:
    typedef std::vector<std::string> Words;
    typedef std::function<bool(const Words&)> Handler;

    // Script commands defined in other files register themselves with a static
    // Extension object; every runner then offers them.
    struct Extension
    {
        typedef void (*Install)(ScriptRunner& runner);
        explicit Extension(Install install);
        static std::vector<Install>& all();
    };

    ScriptRunner(Plugin& plugin, const std::string& scriptPath);
    ~ScriptRunner();

    bool setOutput(const std::string& path);
    bool setReads(const std::string& path);
    // A run that only reads the script's traffic, against a stand-in for a plugin:
    // commands that read or write files of their own (save states) do nothing then.
    void setTrafficOnly(bool only) { trafficOnly = only; }
    bool isTrafficOnly() const { return trafficOnly; }
    // Also hands every rendered block of frames (interleaved stereo) to `sink`.
    void setFrameSink(std::function<void(const short*, size_t)> sink) { frameSink = sink; }
    bool run();

    // For commands added by other files: report an error at the current line.
    bool fail(const std::string& message);
    // Parses a hexadecimal (or with decimal = true, decimal) number; false on error.
    static bool parseNumber(const std::string& text, bool decimal, unsigned long long& value);
    std::string resolvePath(const std::string& path) const;
    void addCommand(const std::string& name, Handler handler) { commands[name] = handler; }
    Plugin& getPlugin() { return plugin; }
    // Appends rendered S16LE frames to the output file, when one was given.
    void writeOutput(const short* samples, size_t frames);

private:
    bool render(unsigned long frames);

    Plugin& plugin;
    std::string scriptPath;
    std::string scriptDir;
    int lineNumber = 0;
    bool trafficOnly = false;
    FILE* output = nullptr;
    FILE* reads = nullptr;
    std::map<std::string, Handler> commands;
    std::function<void(const short*, size_t)> frameSink;
};
