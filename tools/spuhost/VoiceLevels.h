#pragma once

#include <cstdint>
#include <vector>

class Plugin;

// Every voice's envelope level as the plugin renders, read back through its
// exports: the plugin's SPUrender is wrapped so that it renders in steps of
// StepFrames and reads each voice's ADSR volume register after every step. The
// levels are kept a column at a time (the highest read in each), the columns spread
// evenly over the expected duration; a step counts to every column it reaches into,
// frames past the duration to the last column.
class VoiceLevels
{
public:
    static constexpr int Voices = 24;
    static constexpr unsigned long StepFrames = 32; // 0.7 ms: a hi-hat is longer

    VoiceLevels(uint32_t durationFrames, int columns);

    // Puts this probe between the plugin's SPUrender and its callers (one probe a
    // process). The probe must outlive the plugin's use; the plugin needs
    // SPUreadRegister.
    void install(Plugin& plugin);

    const std::vector<uint16_t>& levels(int voice) const { return columns[voice]; }
    uint32_t framesRendered() const { return rendered; }
    uint32_t durationFrames() const { return duration; }

private:
    static void renderProbed(short* frames, unsigned long bytes);
    void sample(unsigned long frames);

    uint32_t duration;
    std::vector<uint16_t> columns[Voices];
    uint32_t rendered = 0;
};
