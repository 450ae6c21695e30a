#include "support/PrivateDsp.h"
#include "support/PrivateDev.h"
#include "support/ScratchDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
const int CannotRun = 77;

// In the child: a /dev of its own, and "/dev/dsp" a FIFO on it.
bool makePrivateDsp(const std::string& staging)
{
    if (!enterPrivateDev(staging))
        return false;
    if (mkfifo("/dev/dsp", 0600) != 0)
    {
        std::fprintf(stderr, "private /dev/dsp: mkfifo(\"/dev/dsp\"): %s\n", std::strerror(errno));
        return false;
    }
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
    ScratchDir staging(ScratchDir::StayPut, "spudsp");
    if (!staging.ok())
    {
        whyNot = staging.error();
        return false;
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0)
    {
        if (!makePrivateDsp(staging.path()))
            _exit(CannotRun);
        check();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    const bool waited = child > 0 && waitpid(child, &status, 0) == child;
    staging.close();
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
