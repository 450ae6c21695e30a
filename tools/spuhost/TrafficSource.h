#pragma once

#include "spuhost/VoiceTraffic.h"

#include <string>

class LogFile;

// The register traffic of a script or of an event log ("spulog.spu"), read without a
// plugin. A script runs against a stand-in whose exports only keep the time; false
// when it does not run, the reason (with its line) then on standard error.
bool readScriptTraffic(const std::string& script, VoiceTraffic& traffic);
// A log open and checked (LogFile::check) has its entries read from the first, as
// they stand, after the voices its snapshot keys on when a replay loads it (those
// the key-on words name, then stopped by the key-off words, at frame 0); then it is
// back at its first entry, for a replay. False with the log's error() set when the
// file changed since it was checked.
bool readLogTraffic(LogFile& log, VoiceTraffic& traffic);

// Whether the file is an event log rather than a script: logs start with a sound RAM
// image, which holds zero bytes; scripts are text.
bool looksLikeEventLog(const std::string& path);
