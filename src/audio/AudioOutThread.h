#pragma once

// Output pacing. The audio-out method ("AudioOutMethod") decides who reports time to
// the output engine: 0 "Thread" a 1 ms polling thread, 1 "Timer" a 10 ms SIGALRM
// timer, 2 "SPUasync" the host's own SPUasync calls.
//
// startAudioOut / stopAudioOut run at SPUopen / SPUclose: device, engine, pacing and
// the real-time window. startAudioOutThread / stopAudioOutThread start and stop the
// engine and its pacing alone (the real-time window cycles them to apply changes);
// they read the method from the configuration each time.
void startAudioOut();
void stopAudioOut();
void startAudioOutThread();
void stopAudioOutThread();

// Sleeps delay; run as root it raises the calling thread to SCHED_FIFO priority 1
// for the sleep and restores its policy afterwards. An interrupted sleep is resumed
// once for the remainder. Returns the result of the last scheduling call or sleep.
struct timespec;
int nanosleepStrict(const timespec* delay);
