#pragma once

// A private X server (Xvfb) for the dialog tests, and the xdotool / ImageMagick
// calls that drive it. The server picks a free display number itself (-displayfd)
// and DISPLAY is pointed at it for the test process and its children. Every wait
// is bounded.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

class XServer
{
public:
    // Starts Xvfb; false (with the reason in *error) when it does not come up.
    // Display numbers are taken from this process's id rather than the lowest
    // free one: tests run in parallel, and a server that is shutting down removes
    // its socket late, which would pull the floor from under a new server that
    // just took over its number. The range is wide (50000 numbers) because the
    // tests start many processes: in a range of a few hundred, a test started
    // seconds after another one often got the number of that one's server while
    // it was still going away.
    bool start(std::string* error)
    {
        for (int attempt = 0; attempt < 20; ++attempt)
            if (startOn(1000 + (getpid() + attempt * 2503) % 50000))
                return true;
        return fail(error, "Xvfb did not start (is the xvfb package installed?)");
    }

    void stop()
    {
        if (pid > 0)
        {
            // Bounded: a server that does not go on SIGTERM within 5 s is killed, so
            // that the test process never waits on it at exit.
            kill(pid, SIGTERM);
            bool gone = false;
            for (int waited = 0; waited < 5000 && !gone; waited += 10)
            {
                gone = waitpid(pid, nullptr, WNOHANG) == pid;
                if (!gone)
                    usleep(10000);
            }
            if (!gone)
            {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
            pid = -1;
        }
    }

    ~XServer() { stop(); }

    std::string display;

private:
    bool startOn(int number)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        pid = fork();
        if (pid == 0)
        {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const std::string name = ":" + std::to_string(number);
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
            // -noreset: by default the server resets when its last client leaves
            // (each xdotool command is one), and a client connecting during the
            // reset (a dialog opening on a busy machine) is refused.
            execlp("Xvfb", "Xvfb", name.c_str(), "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                   "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // The server writes its number once it accepts connections; it exits
        // without writing when the number is taken.
        std::string written;
        pollfd p = {fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
            written += c;
        close(fds[0]);
        if (written.empty())
        {
            stop();
            return false;
        }
        display = ":" + written;
        setenv("DISPLAY", display.c_str(), 1);
        return true;
    }

    static bool fail(std::string* error, const char* text)
    {
        *error = text;
        return false;
    }

    pid_t pid = -1;
};

// Runs a shell command (bounded by timeout(1)) and returns its standard output.
inline std::string runCommand(const std::string& command, int* status = nullptr)
{
    std::string output;
    FILE* pipe = popen(("timeout 10 " + command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int result = pclose(pipe);
    if (status != nullptr)
        *status = result;
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return output;
}

// The id of the shown window with exactly this title, or "" after timeoutMs.
inline std::string findWindow(const std::string& title, int timeoutMs = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do
    {
        const std::string id = runCommand("xdotool search --onlyvisible --name '^" + title + "$'");
        if (!id.empty())
            return id.substr(0, id.find('\n'));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < end);
    return "";
}

// True once no shown window has this title any more (bounded).
inline bool windowGone(const std::string& title, int timeoutMs = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do
    {
        if (runCommand("xdotool search --onlyvisible --name '^" + title + "$'").empty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

// The ids of all shown windows, one a line.
inline std::string shownWindows()
{
    return runCommand("xdotool search --onlyvisible --name ''");
}

// The id of a shown window that is not in the list taken before, or "" (bounded).
inline std::string newWindow(const std::string& before, int timeoutMs = 5000)
{
    for (int waited = 0; waited < timeoutMs; waited += 50)
    {
        std::istringstream shown(shownWindows());
        for (std::string id; std::getline(shown, id);)
            if (before.find(id) == std::string::npos)
                return id;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "";
}

// True once the window with this id is no longer shown (bounded).
inline bool windowIdGone(const std::string& id, int timeoutMs = 5000)
{
    for (int waited = 0; waited < timeoutMs; waited += 50)
    {
        if (shownWindows().find(id) == std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// "WIDTHxHEIGHT" of a window.
inline std::string windowSize(const std::string& id)
{
    const std::string geometry = runCommand("xdotool getwindowgeometry " + id);
    const size_t at = geometry.find("Geometry: ");
    return at == std::string::npos ? geometry : geometry.substr(at + 10);
}

// Clicks at a position inside the window (window coordinates).
inline void clickAt(const std::string& id, int x, int y)
{
    runCommand("xdotool mousemove --window " + id + " " + std::to_string(x) + " " + std::to_string(y) +
               " click 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

// Points into the window (keys go to the window under the pointer without a window
// manager) and presses the keys through XTEST, as a keyboard would. Two commands on
// purpose: chained after a window, xdotool sends synthetic events to that window
// instead, which FLTK does not always take as typed keys.
inline void pressKeys(const std::string& id, const std::string& keys)
{
    runCommand("xdotool mousemove --window " + id + " 2 2");
    runCommand("xdotool key --delay 80 " + keys);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

// screenshots/ in the directory of the first call (tests may change directory
// later: the server start makes the first call).
inline const std::string& screenshotDir()
{
    static const std::string dir = [] {
        char* cwd = getcwd(nullptr, 0);
        const std::string path = std::string(cwd != nullptr ? cwd : ".") + "/screenshots";
        free(cwd);
        mkdir(path.c_str(), 0755);
        return path;
    }();
    return dir;
}

// Saves the whole screen as a PNG test artefact.
inline void screenshot(const std::string& name)
{
    runCommand("import -window root " + screenshotDir() + "/" + name + ".png");
}

// The one server of this test process. FLTK keeps its display connection open for
// the life of the process, so every suite shares the server, which stops at exit.
// Null, with the reason in *error, when it cannot start.
inline XServer* sharedXServer(std::string* error)
{
    static XServer server;
    static std::string startError;
    static bool started = server.start(&startError);
    screenshotDir();
    *error = startError;
    return started ? &server : nullptr;
}
