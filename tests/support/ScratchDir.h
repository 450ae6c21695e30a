#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

// A fresh directory under /tmp that becomes the current directory for the life of
// the object (the plugin writes "spulog.spu" and "./cfg" there), then is removed.
class ScratchDir
{
public:
    ScratchDir()
    {
        char pattern[] = "/tmp/spu-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        dir = pattern;
        char* cwd = getcwd(nullptr, 0);
        previous = cwd != nullptr ? cwd : "/";
        free(cwd);
        if (chdir(dir.c_str()) != 0)
            throw std::runtime_error("chdir failed");
    }

    ~ScratchDir()
    {
        if (chdir(previous.c_str()) != 0)
            return;
        std::error_code ignored;
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(dir, ignored);
    }

    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }

private:
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string dir;
    std::string previous;
};
