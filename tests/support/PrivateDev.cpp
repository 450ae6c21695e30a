#include "support/PrivateDev.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
bool fail(const char* what)
{
    std::fprintf(stderr, "private /dev: %s: %s\n", what, std::strerror(errno));
    return false;
}

// Bind-mounts every entry of the old /dev (seen at `oldDev`) into the new one,
// keeping symbolic links as links.
bool bindEntriesBack(const std::string& oldDev)
{
    DIR* dir = opendir(oldDev.c_str());
    if (dir == nullptr)
        return fail("opendir of the old /dev");
    bool ok = true;
    while (dirent* entry = readdir(dir))
    {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "dsp")
            continue;
        const std::string from = oldDev + "/" + name, to = "/dev/" + name;
        struct stat st;
        if (lstat(from.c_str(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode))
        {
            char target[4096];
            const ssize_t length = readlink(from.c_str(), target, sizeof(target) - 1);
            if (length < 0)
                continue;
            target[length] = '\0';
            ok = symlink(target, to.c_str()) == 0 && ok;
            continue;
        }
        if (S_ISDIR(st.st_mode))
            ok = mkdir(to.c_str(), 0755) == 0 && ok;
        else
        {
            const int fd = open(to.c_str(), O_WRONLY | O_CREAT, 0600);
            ok = fd >= 0 && ok;
            if (fd >= 0)
                close(fd);
        }
        // A node the kernel will not bind (rare) is left out; the callers need few.
        mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
    }
    closedir(dir);
    return ok ? true : fail("recreating the /dev entries");
}
} // namespace

bool enterPrivateDev(const std::string& staging)
{
    if (unshare(CLONE_NEWNS) != 0)
        return fail("unshare(CLONE_NEWNS)");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return fail("making / private");
    if (mount("none", staging.c_str(), "tmpfs", 0, "mode=0700") != 0)
        return fail("tmpfs on the staging directory");
    const std::string oldDev = staging + "/dev";
    if (mkdir(oldDev.c_str(), 0755) != 0)
        return fail("mkdir of the old /dev's mount point");
    if (mount("/dev", oldDev.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return fail("binding the old /dev");
    if (mount("none", "/dev", "tmpfs", 0, "mode=0755") != 0)
        return fail("tmpfs on /dev");
    return bindEntriesBack(oldDev);
}
