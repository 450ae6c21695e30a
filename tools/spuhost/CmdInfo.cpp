#include "spuhost/Command.h"
#include "spuhost/Plugin.h"

#include <cstdio>

namespace
{
int runInfo(const std::vector<std::string>& args)
{
    if (args.size() != 1)
    {
        std::fprintf(stderr, "usage: spuhost info PLUGIN.so\n");
        return 2;
    }
    Plugin plugin;
    if (!plugin.load(args[0]))
    {
        std::fprintf(stderr, "spuhost: %s: %s\n", args[0].c_str(), plugin.error().c_str());
        return 1;
    }
    const unsigned long version = plugin.PSEgetLibVersion();
    std::printf("name: %s\n", plugin.PSEgetLibName());
    std::printf("type: %lu\n", plugin.PSEgetLibType());
    std::printf("version: %lu (%lu.%lu build %lu)\n", version, (version >> 16) & 0xFF, (version >> 8) & 0xFF,
                version & 0xFF);
    std::printf("SPUrender: %s\n", plugin.SPUrender != nullptr ? "yes" : "no");
    return 0;
}

const SpuhostCommand command("info", "PLUGIN.so", runInfo);
} // namespace
