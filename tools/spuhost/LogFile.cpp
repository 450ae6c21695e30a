#include "spuhost/LogFile.h"

#include <cerrno>
#include <cstring>

namespace
{
uint32_t little32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

std::string hex(long value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "0x%lX", value);
    return text;
}
} // namespace

LogFile::LogFile() {}

LogFile::~LogFile()
{
    close();
}

void LogFile::close()
{
    if (file != nullptr)
        std::fclose(file);
    file = nullptr;
}

const char* LogFile::typeName(int type)
{
    static const char* const names[TypeCount] = {"REGwrite", "REGread", "DMAwrite",
                                                 "DMAread",  "XAplay",  "CDDAplay"};
    return type >= 0 && type < TypeCount ? names[type] : "unknown";
}

bool LogFile::read(void* data, long size)
{
    if (std::fread(data, 1, static_cast<size_t>(size), file) != static_cast<size_t>(size))
        return false;
    position += size;
    return true;
}

bool LogFile::read32(uint32_t& value)
{
    unsigned char bytes[4];
    if (!read(bytes, 4))
        return false;
    value = little32(bytes);
    return true;
}

LogFile::Result LogFile::fail(long offset, const std::string& message)
{
    lastError = "offset " + hex(offset) + ": " + message;
    return Bad;
}

bool LogFile::open(const std::string& path)
{
    FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr)
    {
        close();
        lastError = std::strerror(errno);
        return false;
    }
    return open(stream);
}

bool LogFile::open(FILE* stream)
{
    close();
    file = stream;
    fileSize = 0;
    position = 0;
    lastTime = 0;
    durationFrames = 0;
    if (!readHead())
    {
        close(); // next() then reports that no log is open
        return false;
    }
    return true;
}

bool LogFile::readHead()
{
    if (file == nullptr)
    {
        lastError = "no stream to read";
        return false;
    }
    if (std::fseek(file, 0, SEEK_END) != 0 || (fileSize = std::ftell(file)) < 0 ||
        std::fseek(file, 0, SEEK_SET) != 0)
    {
        lastError = "cannot determine the file size";
        return false;
    }
    if (fileSize < HeadSize)
    {
        fail(fileSize,
             "truncated head: the file has " + hex(fileSize) + " bytes, a log at least " + hex(HeadSize));
        return false;
    }
    ram.resize(SoundRamSize);
    registers.resize(RegisterImageSize);
    if (!read(ram.data(), SoundRamSize) || !read(registers.data(), RegisterImageSize) ||
        !read32(durationFrames))
    {
        lastError = "cannot read the head";
        return false;
    }
    // A recording this long is no recording; playing it would render for hours.
    if (durationFrames > MaxDurationFrames)
    {
        fail(DurationOffset, "duration " + std::to_string(durationFrames) + " frames is over 24 hours (" +
                                 std::to_string(MaxDurationFrames) + " frames): the log is damaged");
        return false;
    }
    return true;
}

bool LogFile::rewind()
{
    if (file == nullptr || std::fseek(file, HeadSize, SEEK_SET) != 0)
    {
        lastError = "cannot go back to the first entry";
        return false;
    }
    position = HeadSize;
    lastTime = 0;
    return true;
}

bool LogFile::check(Summary& summary)
{
    summary = Summary();
    Entry entry;
    Result result;
    while ((result = next(entry)) == Ok)
        ++summary.counts[entry.type];
    return result == End && rewind();
}

LogFile::Result LogFile::next(Entry& entry)
{
    if (file == nullptr)
    {
        lastError = "no log is open";
        return Bad;
    }
    entry.offset = position;
    const long left = fileSize - position;
    if (left == 0)
        return End;
    if (left < 5)
        return fail(position, "truncated entry header (" + std::to_string(left) + " bytes left)");
    unsigned char type = 0;
    if (!read32(entry.time) || !read(&type, 1))
        return fail(entry.offset, "cannot read the entry header");
    if (type >= TypeCount)
        return fail(entry.offset, "unknown entry type " + std::to_string(type));
    if (entry.time < lastTime)
        return fail(entry.offset, "time stamp " + std::to_string(entry.time) + " goes back from " +
                                      std::to_string(lastTime));
    if (entry.time > durationFrames)
        return fail(entry.offset, "time stamp " + std::to_string(entry.time) + " lies beyond the duration " +
                                      std::to_string(durationFrames) + " (was the recording never stopped?)");
    lastTime = entry.time;
    entry.type = static_cast<Type>(type);
    entry.payload.clear();

    // The fixed part of the payload: 4 bytes of address or count, and the value of a write.
    const long fixedSize = entry.type == XAplay ? 0 : entry.type == REGwrite ? 6 : 4;
    if (fileSize - position < fixedSize)
        return fail(entry.offset, std::string("truncated ") + typeName(type) + " entry");
    uint32_t word = 0;
    if (fixedSize > 0 && !read32(word))
        return fail(entry.offset, "cannot read the entry");
    entry.address = word;
    entry.count = static_cast<int32_t>(word);
    if (entry.type == REGwrite)
    {
        unsigned char value[2];
        if (!read(value, 2))
            return fail(entry.offset, "cannot read the entry");
        entry.value = static_cast<uint16_t>(value[0] | value[1] << 8);
    }

    long dataSize = 0;
    switch (entry.type)
    {
    case DMAwrite:
    case DMAread:
    case CDDAplay:
        if (entry.count < 0)
            return fail(entry.offset, std::string(typeName(type)) + " with a negative count " +
                                          std::to_string(entry.count));
        // A transfer past the end of sound RAM wraps round to its start: a longer
        // one only makes a player work for nothing.
        if (entry.type != CDDAplay && entry.count > MaxTransferWords)
            return fail(entry.offset, std::string(typeName(type)) + " of " + std::to_string(entry.count) +
                                          " words is more than sound RAM holds (" +
                                          std::to_string(MaxTransferWords) + ")");
        if (entry.type == DMAwrite)
            dataSize = 2L * entry.count;
        else if (entry.type == CDDAplay)
            dataSize = entry.count;
        break;
    case XAplay:
        dataSize = XaRecordSize;
        break;
    default:
        break;
    }
    // Checked before allocating: a hostile count must not make the reader ask for gigabytes.
    if (dataSize > fileSize - position)
        return fail(entry.offset, std::string(typeName(type)) + " announces " + std::to_string(dataSize) +
                                      " bytes but only " + std::to_string(fileSize - position) + " remain");
    entry.payload.resize(static_cast<size_t>(dataSize));
    if (dataSize > 0 && !read(entry.payload.data(), dataSize))
        return fail(entry.offset, "cannot read the entry");
    return Ok;
}
