#pragma once

// Output pacing. The audio-out method ("AudioOutMethod") decides who reports time to
// the output engine: 0 "Thread" a 1 ms polling thread, 1 "Timer" a 10 ms SIGALRM
// timer, 2 "SPUasync" the host's own SPUasync calls.
//
// startAudioOut / stopAudioOut run at SPUopen / SPUclose: device, engine, pacing and
// the real-time window. startAudioOutThread / stopAudioOutThread start and stop the
// engine and its pacing alone (the real-time window cycles them to apply changes);
// they ask for the configured method each time.

class AudioOut;

// What the pacing works on, handed over by the plugin when it loads: the engine it
// paces, the configured audio-out method (asked at every start, since the
// real-time window may change it), and the real-time window's thread, which
// startAudioOut opens and stopAudioOut closes (either may be null). Set it while
// nothing paces: the pacing thread and the timer's handler read it unlocked.
struct AudioOutPacing
{
    AudioOut* engine;
    int (*audioOutMethod)();
    void (*openRealtimeWindow)();
    void (*closeRealtimeWindow)();
};
void setAudioOutPacing(const AudioOutPacing& pacing);

void startAudioOut();
void stopAudioOut();
void startAudioOutThread();
void stopAudioOutThread();
