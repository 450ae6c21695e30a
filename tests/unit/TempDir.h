#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

// Runs a test inside a fresh temporary working directory and returns to the old one.
class TempDir
{
public:
    TempDir()
    {
        char pattern[] = "/tmp/spu-test-XXXXXX";
        path = mkdtemp(pattern);
        char buffer[4096];
        old = getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : "/";
        if (chdir(path.c_str()) != 0)
            std::abort();
    }
    ~TempDir()
    {
        if (chdir(old.c_str()) != 0)
            std::abort();
        std::system(("rm -rf '" + path + "'").c_str());
    }
    const std::string& get() const { return path; }

private:
    std::string path;
    std::string old;
};
