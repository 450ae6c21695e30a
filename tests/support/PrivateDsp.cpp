#include "support/PrivateDsp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
const int CannotRun = 77;

bool fail(const char* what)
{
    std::fprintf(stderr, "private /dev/dsp: %s: %s\n", what, std::strerror(errno));
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
        // A node the kernel will not bind (rare) is left out; the check needs few.
        mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
    }
    closedir(dir);
    return ok ? true : fail("recreating the /dev entries");
}

// In the child: a namespace of its own, /dev rebuilt on a tmpfs with the old
// entries bound back, and "/dev/dsp" a FIFO on that tmpfs.
bool makePrivateDsp(const std::string& staging)
{
    if (unshare(CLONE_NEWNS) != 0)
        return fail("unshare(CLONE_NEWNS)");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return fail("making / private");
    // The old /dev stays reachable under the staging tmpfs, visible only here.
    if (mount("none", staging.c_str(), "tmpfs", 0, "mode=0700") != 0)
        return fail("tmpfs on the staging directory");
    const std::string oldDev = staging + "/dev";
    if (mkdir(oldDev.c_str(), 0755) != 0)
        return fail("mkdir of the old /dev's mount point");
    if (mount("/dev", oldDev.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return fail("binding the old /dev");
    if (mount("none", "/dev", "tmpfs", 0, "mode=0755") != 0)
        return fail("tmpfs on /dev");
    if (!bindEntriesBack(oldDev))
        return false;
    if (mkfifo("/dev/dsp", 0600) != 0)
        return fail("mkfifo(\"/dev/dsp\")");
    return true;
}
} // namespace

bool runWithPrivateDsp(const std::function<void()>& check, std::string& whyNot)
{
    if (geteuid() != 0)
    {
        whyNot = "a private /dev/dsp needs root (a mount namespace of the test's own)";
        return false;
    }
    char pattern[] = "/tmp/spudspXXXXXX";
    if (mkdtemp(pattern) == nullptr)
    {
        whyNot = std::string("mkdtemp: ") + std::strerror(errno);
        return false;
    }
    const std::string staging = pattern;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0)
    {
        if (!makePrivateDsp(staging))
            _exit(CannotRun);
        check();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    const bool waited = child > 0 && waitpid(child, &status, 0) == child;
    rmdir(staging.c_str());
    if (!waited)
    {
        whyNot = "fork or wait failed";
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == CannotRun)
    {
        whyNot = "the kernel refused a private mount namespace (see the message above)";
        return false;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the check in the private namespace failed (its messages are above); status " << status;
    return true;
}
