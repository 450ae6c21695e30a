#include "spuhost/Command.h"
#include "spuhost/Plugin.h"
#include "spuhost/Script.h"

#include <cstdio>

namespace
{
int runScript(const std::vector<std::string>& args)
{
    if (args.size() < 2)
    {
        std::fprintf(stderr, "usage: spuhost script PLUGIN.so SCRIPT [--out OUT.raw] [--reads READS.txt]\n");
        return 2;
    }
    std::string outPath, readsPath;
    for (size_t i = 2; i < args.size(); ++i)
    {
        if (args[i] == "--out" && i + 1 < args.size())
            outPath = args[++i];
        else if (args[i] == "--reads" && i + 1 < args.size())
            readsPath = args[++i];
        else
        {
            std::fprintf(stderr, "spuhost script: unexpected argument '%s'\n", args[i].c_str());
            return 2;
        }
    }

    Plugin plugin;
    if (!loadPlugin(plugin, args[0]))
        return 1;
    ScriptRunner runner(plugin, args[1]);
    if (!outPath.empty() && !runner.setOutput(outPath))
    {
        std::fprintf(stderr, "spuhost: cannot write '%s'\n", outPath.c_str());
        return 1;
    }
    if (!readsPath.empty() && !runner.setReads(readsPath))
    {
        std::fprintf(stderr, "spuhost: cannot write '%s'\n", readsPath.c_str());
        return 1;
    }
    return runner.run() ? 0 : 1;
}

const SpuhostCommand command("script", "PLUGIN.so SCRIPT [--out OUT.raw] [--reads READS.txt]", runScript);
} // namespace
