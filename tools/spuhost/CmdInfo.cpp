#include "spuhost/Command.h"
#include "spuhost/LogFile.h"
#include "spuhost/Plugin.h"

#include <cstdio>
#include <cstring>

namespace
{
bool isSharedLibrary(const std::string& path)
{
    char magic[4] = {};
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return true; // let the loader report the error
    const bool elf = std::fread(magic, 1, 4, file) == 4 && std::memcmp(magic,
                                                                       "\x7F"
                                                                       "ELF",
                                                                       4) == 0;
    std::fclose(file);
    return elf;
}

int describeLog(const std::string& path)
{
    LogFile log;
    if (!log.open(path))
    {
        std::fprintf(stderr, "spuhost info: %s: %s\n", path.c_str(), log.error().c_str());
        return 1;
    }
    LogFile::Summary summary;
    if (!log.check(summary))
    {
        std::fprintf(stderr, "spuhost info: %s: %s\n", path.c_str(), log.error().c_str());
        return 1;
    }
    std::printf("log: %s\n", path.c_str());
    std::printf("duration: %lu frames (%.3f s)\n", static_cast<unsigned long>(log.duration()),
                log.duration() / 44100.0);
    for (int type = 0; type < LogFile::TypeCount; ++type)
        std::printf("%s: %lu\n", LogFile::typeName(type), summary.counts[type]);
    return 0;
}

int runInfo(const std::vector<std::string>& args)
{
    if (args.size() != 1)
    {
        std::fprintf(stderr, "usage: spuhost info PLUGIN.so | spuhost info spulog.spu\n");
        return 2;
    }
    if (!isSharedLibrary(args[0]))
        return describeLog(args[0]);
    Plugin plugin;
    if (!loadPlugin(plugin, args[0]))
        return 1;
    const unsigned long version = plugin.PSEgetLibVersion();
    std::printf("name: %s\n", plugin.PSEgetLibName());
    std::printf("type: %lu\n", plugin.PSEgetLibType());
    std::printf("version: %lu (%lu.%lu build %lu)\n", version, (version >> 16) & 0xFF, (version >> 8) & 0xFF,
                version & 0xFF);
    std::printf("SPUrender: %s\n", plugin.SPUrender != nullptr ? "yes" : "no");
    return 0;
}

const SpuhostCommand command("info", "PLUGIN.so | spulog.spu", runInfo);
} // namespace
