#pragma once

#include <bitset>
#include <string>
#include <vector>

class Plugin;
struct SPUFreeze_t;

// The sources a run silences (--mute, --solo): voices 0..23 and the CD input. The
// host rewrites what it hands over: a silenced voice's volume writes (left and
// right) and the CD input's volume writes reach the plugin as 0, and so do those
// words of a save state's register image that it loads. Everything else, a
// silenced voice's pitch modulation of the next voice among it, plays as recorded.
class VoiceMask
{
public:
    static const int Voices = 24;
    static const int Cd = Voices; // the CD input's place in the set

    // Takes "--mute LIST" or "--solo LIST" at args[i], moving i past the list: 1 when
    // it took one, 0 when args[i] is another argument, -1 when the list is not one
    // (the reason then on standard error, after "spuhost COMMAND: "). A list is
    // comma-separated voices ("3", "0-7") and "cd". Muted sources are silent; with
    // any solo, so is every source not soloed.
    int takeOption(const std::vector<std::string>& args, size_t& i, const char* command);

    // The mask of a stem: every source but this one silent.
    static VoiceMask only(int source);

    bool silences(int source) const;
    bool silencesAny() const { return muted.any() || soloed.any(); }

    // The value a write of the register at address reaches the plugin with.
    unsigned short filterWrite(unsigned long address, unsigned short value) const;
    // Zeroes the silenced volumes of a save state's register image.
    void filterRecord(SPUFreeze_t& record) const;

    // Puts this mask between the plugin's SPUwriteRegister and SPUfreeze and their
    // callers, when it silences anything (one mask a process: the tool runs one
    // plugin). The mask must outlive the plugin's use.
    void install(Plugin& plugin) const;

private:
    typedef std::bitset<Voices + 1> Sources;
    static bool parse(const std::string& list, Sources& sources, std::string& error);

    Sources muted;
    Sources soloed;
};
