#pragma once

#include <string>

// The folder of stems that `render --stems` and `replay --stems` write: a WAV file a
// source that sounds ("voice-07.wav", "cd.wav"), each the whole run with only that
// source audible. A source that stays silent leaves no file; one the traffic never
// starts (a voice never keyed on, a CD input never given audio) is not rendered.
class VoiceTraffic;

namespace Stems
{
// The file name of a source's stem (a voice 0-23, or VoiceMask::Cd).
std::string fileName(int source);
// Makes the folder when it is not there; false, with the reason on standard error
// after "spuhost COMMAND: ", when it cannot.
bool makeFolder(const std::string& dir, const char* command);
// Whether the source can sound at all in a run of this traffic.
bool canSound(const VoiceTraffic& traffic, int source);
// Whether any of `count` stereo frames is not silence.
bool sounds(const short* frames, unsigned long count);
} // namespace Stems
