#pragma once

#include <string>
#include <vector>

class Plugin;

// Subcommands of spuhost. Each lives in a file of its own and registers itself
// with a static SpuhostCommand object, so adding one touches no other file.
struct SpuhostCommand
{
    typedef int (*Run)(const std::vector<std::string>& args);

    SpuhostCommand(const char* name, const char* usage, Run run);

    const char* name;
    const char* usage;
    Run run;

    static std::vector<const SpuhostCommand*>& all();
};

// Loads the plugin a subcommand was given. When it cannot, says why on standard
// error ("spuhost: PATH: reason") and returns false; the subcommand then exits with 1.
bool loadPlugin(Plugin& plugin, const std::string& path);
