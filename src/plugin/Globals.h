#pragma once

#include "audio/AudioOut.h"
#include "config/ConfigLinuxPSEmuPro.h"
#include "record/Record.h"
#include "record/SPUDebug.h"
#include "spu/SPU.h"
#include "synth/StreamQueue.h"

// The plugin's global objects, constructed at load in this order and destroyed in
// reverse order at unload. Loading also connects the layers below to them: the
// engine renders theSPU, the pacing drives theAudioOut with theConfig's method and
// the real-time window, and that window's "Record" button drives theRecord.
extern ConfigLinuxPSEmuPro theConfig;
extern AudioOut theAudioOut;
extern SPU theSPU;
extern SPUDebug theSPUDebug;
// The running event recorder, or null.
extern Record* theRecord;
// The XA and CD-DA input of theSPU's stream.
extern StreamQueue theStreamQueue;

// SPUplayADPCMchannel and SPUplayCDDAchannel, which a loaded save state uses for
// its XA part too: each enters the critical section, logs the chunk when a
// recording runs and queues it (theStreamQueue). Call them without holding it.
void playADPCMchannel(xa_decode_t* xa);
void playCDDAchannel(const short* data, int length);
