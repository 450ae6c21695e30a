#pragma once

#include "synth/XaDecode.h"

// The work of SPUplayADPCMchannel and SPUplayCDDAchannel, here so that the save
// state can queue its XA part the same way. Both enter the critical section
// themselves; call them without holding it.
//
// When StreamSound::ConfigWaitForXABufferIsFree is set they wait for room in the
// stream ring, leaving the critical section while they sleep. The wait is bounded:
// when no frame has been rendered for StallLimitMs (nothing drains the ring, e.g.
// the plugin is not open, or rendering is held for the CPU that is blocked here)
// the chunk is queued as if waiting were off, and later chunks do not wait until
// a frame has been rendered again.
void playADPCMchannel(xa_decode_t* xa);
void playCDDAchannel(const short* data, int length);

const int StallLimitMs = 100;
