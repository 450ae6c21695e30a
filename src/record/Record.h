#pragma once

#include <cstdio>

class SPU;
struct xa_decode_t;

// The event recorder: "spulog.spu" holds a snapshot of sound RAM (0x80000 bytes) and
// of the register image (512 bytes), the duration in frames (4 bytes, written at
// the stop), then one entry per logged host call: a 32-bit time stamp in frames
// since the start, a type byte and the payload. All values little-endian.
//
// The exports call the log functions right after entering the critical section,
// before touching the SPU; each logs only when its bit of ConfigRecOpt is set.
class Record
{
public:
    enum LOG_TYPE : unsigned char
    {
        REGwrite = 0,
        REGread = 1,
        DMAwrite = 2,
        DMAread = 3,
        XAplay = 4,
        CDDAplay = 5,
    };

    // The event types logged (bit n: LOG_TYPE n), shared by every recording;
    // written only by Config::updateConfigValue.
    static int ConfigRecOpt;
    static const char* LogFileName;
    static const long HeadSize = 0x80204;

    Record();
    virtual ~Record();

    // Returns false, with nothing written, when the file cannot be created.
    bool startRecord(SPU* spu);
    void stopRecord();

    void writeCommonHeader(LOG_TYPE type);
    void logREGwrite(unsigned long address, unsigned short value);
    void logREGread(unsigned long address);
    void logDMAwrite(const unsigned short* data, int words);
    void logDMAread(int words);
    void logXAplay(const xa_decode_t* xa);
    void logCDDAplay(const short* data, int bytes);

private:
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    bool selected(LOG_TYPE type) const { return file != nullptr && (ConfigRecOpt & (1 << type) & 0xFF) != 0; }
    void write32(unsigned int value);
    void write16(unsigned short value);
    void writeWords(const unsigned short* words, int count);

    SPU* spu;
    FILE* file;
    unsigned int startTick;
};
