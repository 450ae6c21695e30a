// spuhost: a small PSEmu Pro host for sound plugins. It loads a plugin with dlopen
// and drives it only through the exported functions, as an emulator does.

#include "spuhost/Command.h"
#include "spuhost/Plugin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

SpuhostCommand::SpuhostCommand(const char* commandName, const char* commandUsage, Run commandRun)
    : name(commandName), usage(commandUsage), run(commandRun)
{
    all().push_back(this);
}

std::vector<const SpuhostCommand*>& SpuhostCommand::all()
{
    static std::vector<const SpuhostCommand*> commands;
    return commands;
}

bool loadPlugin(Plugin& plugin, const std::string& path)
{
    if (plugin.load(path))
        return true;
    std::fprintf(stderr, "spuhost: %s: %s\n", path.c_str(), plugin.error().c_str());
    return false;
}

namespace
{
int usage()
{
    std::vector<const SpuhostCommand*> commands = SpuhostCommand::all();
    std::sort(commands.begin(), commands.end(), [](const SpuhostCommand* a, const SpuhostCommand* b) {
        return std::strcmp(a->name, b->name) < 0;
    });
    std::fprintf(stderr, "usage:\n");
    for (const SpuhostCommand* command : commands)
        std::fprintf(stderr, "  spuhost %s %s\n", command->name, command->usage);
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    for (const SpuhostCommand* command : SpuhostCommand::all())
        if (std::strcmp(command->name, argv[1]) == 0)
            return command->run(std::vector<std::string>(argv + 2, argv + argc));
    std::fprintf(stderr, "spuhost: unknown command '%s'\n", argv[1]);
    return usage();
}
