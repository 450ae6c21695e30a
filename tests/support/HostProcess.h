#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// The built spuhost as a child process in `dir`, its standard output and error
// to host.out and host.err there, for tests that watch it and signal it while it
// runs. Waits are polls with a bound that only a fault reaches.
class HostProcess
{
public:
    HostProcess(const std::string& dir, const std::vector<std::string>& args)
    {
        // Everything the child needs is made before fork: after it, only calls that
        // are safe in a forked child of a threaded program.
        std::vector<std::string> words = {SPU_HOST_PATH};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        const std::string out = dir + "/host.out", err = dir + "/host.err";
        child = fork();
        if (child == 0)
        {
            const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (chdir(dir.c_str()) != 0 || outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0)
                _exit(126);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }

    ~HostProcess()
    {
        if (child > 0 && !ended)
        {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
    }

    bool started() const { return child > 0; }
    pid_t pid() const { return child; }

    bool running()
    {
        if (child <= 0 || ended)
            return false;
        ended = waitpid(child, &status, WNOHANG) == child;
        return !ended;
    }

    // Polls until `path` holds more than `bytes` bytes: false when the process
    // ended first or `seconds` passed.
    bool waitForFileLarger(const std::string& path, off_t bytes, double seconds)
    {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < deadline)
        {
            struct stat st;
            if (stat(path.c_str(), &st) == 0 && st.st_size > bytes)
                return true;
            if (!running())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // Polls until the process ends: false when it is still running after `seconds`.
    bool waitForExit(double seconds)
    {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (running())
        {
            if (Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return ended;
    }

    // The wait status once ended.
    int waitStatus() const { return status; }

private:
    typedef std::chrono::steady_clock Clock;

    pid_t child = -1;
    bool ended = false;
    int status = 0;
};
