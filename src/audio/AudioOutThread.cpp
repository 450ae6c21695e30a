#include "audio/AudioOutThread.h"

void startAudioOut() {}

void stopAudioOut() {}

void startAudioOutThread() {}

void stopAudioOutThread() {}
