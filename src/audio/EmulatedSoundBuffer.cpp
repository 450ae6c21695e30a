#include "audio/EmulatedSoundBuffer.h"

#include <cstdint>
#include <cstring>

EmulatedSoundBuffer::EmulatedSoundBuffer(unsigned long frames, Clock& time)
    : clock(&time), useClock(true), buffer(new unsigned int[2 * frames]),
      size(static_cast<unsigned int>(frames)), lockPosition(0), lockLength(0),
      readPosition(static_cast<unsigned int>(frames >> 3))
{
    // The overflow area is cleared as well: cheap, and no stale heap bytes can ever
    // reach a device.
    std::memset(buffer, 0, 2 * frames * sizeof(unsigned int));
    clockBase = clock->getTimeOfDay();
}

EmulatedSoundBuffer::~EmulatedSoundBuffer()
{
    delete[] buffer;
}

void* EmulatedSoundBuffer::lock(unsigned long position, unsigned long length)
{
    lockPosition = static_cast<unsigned int>(position);
    lockLength = static_cast<unsigned int>(length);
    return buffer + position;
}

void EmulatedSoundBuffer::unlock()
{
    const unsigned long end = static_cast<unsigned long>(lockPosition) + lockLength;
    if (end > size)
        std::memcpy(buffer, buffer + size, (end - size) * sizeof(unsigned int));
}

unsigned long EmulatedSoundBuffer::getCurrentPosition() const
{
    return useClock ? getClockPosition() : readPosition.load();
}

void* EmulatedSoundBuffer::getPrimaryMix(unsigned long count)
{
    const unsigned int read = readPosition.load();
    const unsigned long end = static_cast<unsigned long>(read) + count;
    if (end > size)
        std::memcpy(buffer + size, buffer, (end - size) * sizeof(unsigned int));
    unsigned int next = static_cast<unsigned int>(end);
    if (next >= size)
        next -= size;
    readPosition = next;
    return buffer + read;
}

unsigned long EmulatedSoundBuffer::getClockPosition() const
{
    const timeval now = clock->getTimeOfDay();
    const int64_t elapsedSeconds = now.tv_sec - clockBase.tv_sec;
    const int64_t elapsedMicros = now.tv_usec - clockBase.tv_usec;
    const uint32_t frames = static_cast<uint32_t>(elapsedSeconds * 44100 + elapsedMicros * 44100 / 1000000);
    return frames % size;
}
