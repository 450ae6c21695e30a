#pragma once

#include <atomic>

// The one lock over all SPU, voice, reverb, stream, recorder and output-engine
// state. enterCS raises bInCS, blocks SIGALRM (and the host's control signals,
// see HostSignalBlock) in the calling thread and locks a non-recursive mutex; the
// timer's SIGALRM handler skips its tick while bInCS is raised, so it never waits
// on the mutex inside a signal handler. The section does not nest.
void initCS();
void deleteCS();
void enterCS();
void leaveCS();

// A timer tick skipped because the section was taken is owed: the next leaveCS
// calls the handler set here (outside the section) to render it.
void setOwedTickHandler(void (*handler)());
void oweTick();

// Read by the SIGALRM handler: lock-free, so safe to touch from a signal handler.
extern std::atomic<bool> bInCS;

// Milliseconds since the first call, from the time of day (not monotonic: the
// count follows the wall clock if it is set back).
unsigned long GetTickCount();
