#include "plugin/Globals.h"

// One translation unit, so the construction order is the order written here.
ConfigLinuxPSEmuPro theConfig;
AudioOut theAudioOut;
SPU theSPU;
SPUDebug theSPUDebug;
Record* theRecord = nullptr;
