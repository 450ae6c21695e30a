#pragma once

#include "support/Bytes.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>

// The built spuhost run in `dir` through the shell with `args`, as a user runs it:
// its exit status, standard output and standard error.
struct HostRun
{
    int status = -1;
    std::string out;
    std::string err;
};

inline HostRun runHost(const std::string& dir, const std::string& args)
{
    const std::string command = "cd '" + dir + "' && '" SPU_HOST_PATH "' " + args + " >host.out 2>host.err";
    const int raw = std::system(command.c_str());
    HostRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const std::vector<unsigned char> out = readFileBytes(dir + "/host.out");
    const std::vector<unsigned char> err = readFileBytes(dir + "/host.err");
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    return run;
}
