#pragma once

#include "audio/AudioOut.h"
#include "config/ConfigLinuxPSEmuPro.h"
#include "record/Record.h"
#include "record/SPUDebug.h"
#include "spu/SPU.h"

// The plugin's global objects, constructed at load in this order and destroyed in
// reverse order at unload.
extern ConfigLinuxPSEmuPro theConfig;
extern AudioOut theAudioOut;
extern SPU theSPU;
extern SPUDebug theSPUDebug;
// The running event recorder, or null.
extern Record* theRecord;
