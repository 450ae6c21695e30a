#pragma once

#include "spuhost/VoiceTraffic.h"

#include <string>

// The register traffic of a script or of an event log ("spulog.spu"), read without a
// plugin: a script runs against a stand-in whose exports only keep the time, a log's
// entries are read as they stand, after the voices its snapshot keys on when a
// replay loads it (those the key-on words name, then stopped by the key-off words,
// at frame 0). False when the file cannot be read as one; the
// reason is then on standard error (a script's, with its line) or in error.
bool readScriptTraffic(const std::string& script, VoiceTraffic& traffic);
bool readLogTraffic(const std::string& log, VoiceTraffic& traffic, std::string& error);

// Whether the file is an event log rather than a script: logs start with a sound RAM
// image, which holds zero bytes; scripts are text.
bool looksLikeEventLog(const std::string& path);
