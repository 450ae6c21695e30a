#pragma once

#include "spuhost/PsxRecords.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Reader of the plugin's event log "spulog.spu" (all values little-endian):
//
//   0x00000  sound RAM at the start (0x80000 bytes)
//   0x80000  register image at the start (256 16-bit values, 0x1F801C00..0x1F801DFE)
//   0x80200  duration in frames (32-bit)
//   0x80204  entries: time stamp (32-bit, frames since the start), type (1 byte),
//            payload by type:
//              0 register write  address (32-bit), value (16-bit)
//              1 register read   address (32-bit)
//              2 DMA write       n (signed 32-bit), n 16-bit words
//              3 DMA read        n (signed 32-bit)
//              4 XA play         the host's 32800-byte XA record
//              5 CD-DA play      n (signed 32-bit), n bytes of audio
//
// Logs come from anywhere, so every count is checked against the rest of the file
// before anything is read or allocated; a log that breaks the layout stops the
// reader with an error that names the byte offset. Beyond the layout, the reader
// bounds what a few bytes can ask of a player: no transfer of more words than sound
// RAM holds, no duration over 24 hours.
class LogFile
{
public:
    static const long HeadSize = 0x80204;
    static const long SoundRamSize = 0x80000;
    static const long RegisterImageSize = 512;
    static const long DurationOffset = 0x80200;
    static const long XaRecordSize = sizeof(xa_decode_t);
    static const int TypeCount = 6;
    static const int32_t MaxTransferWords = SoundRamSize / 2;
    static const uint32_t MaxDurationFrames = 24u * 3600 * 44100; // 3 810 240 000

    enum Type
    {
        REGwrite = 0,
        REGread = 1,
        DMAwrite = 2,
        DMAread = 3,
        XAplay = 4,
        CDDAplay = 5,
    };

    struct Entry
    {
        long offset = 0;   // of the entry header in the file
        uint32_t time = 0; // frames since the start of the recording
        Type type = REGwrite;
        uint32_t address = 0;               // register entries
        uint16_t value = 0;                 // register writes
        int32_t count = 0;                  // DMA words or CD-DA bytes
        std::vector<unsigned char> payload; // DMA write words, XA record, CD-DA bytes
    };

    enum Result
    {
        Ok,
        End,
        Bad,
    };

    // What one pass over the entries found.
    struct Summary
    {
        unsigned long counts[TypeCount] = {};
        bool needsXA() const { return counts[XAplay] != 0; }
        bool needsCDDA() const { return counts[CDDAplay] != 0; }
    };

    LogFile();
    ~LogFile();

    // Opens the log and reads its head; false with error() set when it cannot.
    bool open(const std::string& path);
    // The same for a stream already open for reading (a file, or bytes in memory
    // through fmemopen): the LogFile closes it, whether the head reads or not. The
    // stream must seek, to tell the size.
    bool open(FILE* stream);
    // Reads the next entry: Ok, End after the last one, or Bad with error() set.
    Result next(Entry& entry);
    // Reads every entry from the current one to the end, counting them by type, and
    // then goes back to the first entry; false with error() set at a fault. Run
    // before anything is played, so that a broken log leaves no half-written output.
    bool check(Summary& summary);
    // Back to the first entry.
    bool rewind();

    const std::string& error() const { return lastError; }
    const std::vector<unsigned char>& soundRam() const { return ram; }
    const std::vector<unsigned char>& registerImage() const { return registers; }
    uint32_t duration() const { return durationFrames; }

    static const char* typeName(int type);

private:
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    void close();
    bool readHead();
    bool read(void* data, long size);
    bool read32(uint32_t& value);
    Result fail(long offset, const std::string& message);

    FILE* file = nullptr;
    long fileSize = 0;
    long position = 0;
    uint32_t lastTime = 0;
    uint32_t durationFrames = 0;
    std::vector<unsigned char> ram;
    std::vector<unsigned char> registers;
    std::string lastError;
};
