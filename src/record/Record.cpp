#include "record/Record.h"

#include "spu/SPU.h"
#include "synth/XaDecode.h"

#include <algorithm>

int Record::ConfigRecOpt = 0;
const char* Record::LogFileName = "spulog.spu";

Record::Record() : spu(nullptr), file(nullptr), startTick(0) {}

Record::~Record() {}

void Record::write32(unsigned int value)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value >> 16),
                                    static_cast<unsigned char>(value >> 24)};
    std::fwrite(bytes, 1, 4, file);
}

void Record::write16(unsigned short value)
{
    const unsigned char bytes[2] = {static_cast<unsigned char>(value),
                                    static_cast<unsigned char>(value >> 8)};
    std::fwrite(bytes, 1, 2, file);
}

// Blocks of words go through a small buffer rather than one stdio call per word:
// the snapshot alone is 256 Ki words, written while the critical section is held.
void Record::writeWords(const unsigned short* words, int count)
{
    unsigned char bytes[1024];
    const int perChunk = sizeof(bytes) / 2;
    for (int done = 0; done < count; done += perChunk)
    {
        const int n = count - done < perChunk ? count - done : perChunk;
        for (int i = 0; i < n; ++i)
        {
            bytes[2 * i] = static_cast<unsigned char>(words[done + i]);
            bytes[2 * i + 1] = static_cast<unsigned char>(words[done + i] >> 8);
        }
        std::fwrite(bytes, 1, 2 * static_cast<size_t>(n), file);
    }
}

bool Record::startRecord(SPU* recorded)
{
    spu = recorded;
    startTick = static_cast<unsigned int>(spu->getCurrentTickCount());
    file = std::fopen(LogFileName, "wb");
    if (file == nullptr)
        return false;
    writeWords(spu->getSoundBuffer(), SPU::SoundBufferWords);
    writeWords(spu->getSPURegister(), SPU::RegisterCount);
    std::fseek(file, HeadSize, SEEK_SET);
    return true;
}

void Record::stopRecord()
{
    if (file == nullptr)
        return;
    const unsigned int duration = static_cast<unsigned int>(spu->getCurrentTickCount()) - startTick;
    std::fseek(file, HeadSize - 4, SEEK_SET);
    write32(duration);
    std::fclose(file);
    file = nullptr;
}

void Record::writeCommonHeader(LOG_TYPE type)
{
    write32(static_cast<unsigned int>(spu->getCurrentTickCount()) - startTick);
    std::fputc(type, file);
}

void Record::logREGwrite(unsigned long address, unsigned short value)
{
    if (!selected(REGwrite))
        return;
    writeCommonHeader(REGwrite);
    write32(static_cast<unsigned int>(address));
    write16(value);
}

void Record::logREGread(unsigned long address)
{
    if (!selected(REGread))
        return;
    writeCommonHeader(REGread);
    write32(static_cast<unsigned int>(address));
}

// A transfer of more words than sound RAM holds (it wraps round) is logged as
// several entries of at most that many, which replay the same: a log reader takes
// a larger count for a damaged entry. (The unary plus hands std::min the value of
// the class constant, which has no definition to take a reference to.)
void Record::logDMAwrite(const unsigned short* data, int words)
{
    if (!selected(DMAwrite))
        return;
    // A null source or a negative count transfers nothing, so it is logged as an
    // empty transfer: the log must never announce data it does not hold.
    if (data == nullptr || words < 0)
        words = 0;
    int done = 0;
    do
    {
        const int n = std::min(words - done, +SPU::SoundBufferWords);
        writeCommonHeader(DMAwrite);
        write32(static_cast<unsigned int>(n));
        writeWords(data + done, n);
        done += n;
    } while (done < words);
}

void Record::logDMAread(int words)
{
    if (!selected(DMAread))
        return;
    // A negative count transfers nothing; logging it would make the log unreadable.
    if (words < 0)
        words = 0;
    int done = 0;
    do
    {
        const int n = std::min(words - done, +SPU::SoundBufferWords);
        writeCommonHeader(DMAread);
        write32(static_cast<unsigned int>(n));
        done += n;
    } while (done < words);
}

void Record::logXAplay(const xa_decode_t* xa)
{
    if (!selected(XAplay) || xa == nullptr)
        return;
    writeCommonHeader(XAplay);
    std::fwrite(xa, 1, sizeof(xa_decode_t), file);
}

void Record::logCDDAplay(const short* data, int bytes)
{
    if (!selected(CDDAplay))
        return;
    // As for DMA writes: no data, no bytes announced.
    if (data == nullptr || bytes < 0)
        bytes = 0;
    writeCommonHeader(CDDAplay);
    write32(static_cast<unsigned int>(bytes));
    if (bytes > 0)
        std::fwrite(data, 1, static_cast<size_t>(bytes), file);
}
