#pragma once

#include "support/Bytes.h"

#include <cstdint>
#include <string>
#include <vector>

// An event log ("spulog.spu") written byte by byte, as an independent producer
// would write one: sound RAM and register image given as words, then the duration;
// entries are appended.
struct LogBuilder
{
    static const size_t Head = 0x80204;

    std::vector<unsigned char> bytes;

    explicit LogBuilder(uint32_t duration, const std::vector<uint16_t>& ram = {},
                        const std::vector<uint16_t>& registers = {})
    {
        bytes.reserve(Head);
        for (size_t i = 0; i < 0x40000; ++i)
            put16(bytes, i < ram.size() ? ram[i] : 0);
        for (size_t i = 0; i < 256; ++i)
            put16(bytes, i < registers.size() ? registers[i] : 0);
        put32(bytes, duration);
    }
    LogBuilder& header(uint32_t time, unsigned char type)
    {
        put32(bytes, time);
        bytes.push_back(type);
        return *this;
    }
    LogBuilder& regWrite(uint32_t time, uint32_t address, uint16_t value)
    {
        header(time, 0);
        put32(bytes, address);
        put16(bytes, value);
        return *this;
    }
    LogBuilder& regRead(uint32_t time, uint32_t address)
    {
        header(time, 1);
        put32(bytes, address);
        return *this;
    }
    LogBuilder& dmaWrite(uint32_t time, const std::vector<uint16_t>& words)
    {
        header(time, 2);
        put32(bytes, static_cast<uint32_t>(words.size()));
        for (uint16_t w : words)
            put16(bytes, w);
        return *this;
    }
    LogBuilder& dmaRead(uint32_t time, uint32_t words)
    {
        header(time, 3);
        put32(bytes, words);
        return *this;
    }
    void save(const std::string& path) const { writeFileBytes(path, bytes); }
};

// A looping ADPCM tone of four blocks: filter 0, shift 4, a rising and falling saw.
inline std::vector<uint16_t> toneBlocks()
{
    std::vector<unsigned char> bytes;
    for (int block = 0; block < 4; ++block)
    {
        bytes.push_back(0x04);                                         // shift 4, filter 0
        bytes.push_back(block == 0 ? 0x04 : block == 3 ? 0x03 : 0x00); // loop start; end + repeat
        for (int i = 0; i < 14; ++i)
            bytes.push_back(
                static_cast<unsigned char>(block < 2 ? 0x77 - (i & 3) * 0x11 : 0x99 + (i & 3) * 0x11));
    }
    std::vector<uint16_t> words;
    for (size_t i = 0; i < bytes.size(); i += 2)
        words.push_back(static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8));
    return words;
}
