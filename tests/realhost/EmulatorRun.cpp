#include "realhost/EmulatorRun.h"
#include "support/Bytes.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
const char* const PcsxrProgram = "/usr/games/pcsxr";
const char* const PackagePluginDir = "/usr/lib/x86_64-linux-gnu/psemu";
const char* const SettingsName = "realhost.cfg";
} // namespace

EmulatorRun::EmulatorRun(const std::string& homeDir, const std::string& plugin) : home(homeDir)
{
    const std::string dot = home + "/.pcsxr";
    for (const char* sub :
         {"", "/plugins", "/plugins/cfg", "/bios", "/memcards", "/sstates", "/cheats", "/patches"})
        mkdir((dot + sub).c_str(), 0755);
    // The package's GPU, pad and CD-ROM plugins with their configuration tools.
    if (DIR* dir = opendir(PackagePluginDir))
    {
        while (dirent* entry = readdir(dir))
            // Not the package's own sound plugin: the one under test takes its place.
            if (entry->d_name[0] != '.' && std::strstr(entry->d_name, "DFSound") == nullptr)
                symlink((std::string(PackagePluginDir) + "/" + entry->d_name).c_str(),
                        (dot + "/plugins/" + entry->d_name).c_str());
        closedir(dir);
    }
    symlink(plugin.c_str(), (dot + "/plugins/libspuTalvane.so").c_str());
    // pcsxr's own format. The OpenGL GPU plugin runs on Xvfb's software GLX; the
    // X-video one needs an XVideo adaptor that Xvfb lacks.
    writeFileText(dot + "/" + SettingsName,
                  "Bios = HLE\n"
                  "Gpu = libpeopsxgl.so\n"
                  "Spu = libspuTalvane.so\n"
                  "Cdr = libDFCdrom.so\n"
                  "Sio1 = libBladeSio1.so\n"
                  "Net = Disabled\n"
                  "Pad1 = libDFInput.so\n"
                  "Pad2 = libDFInput.so\n"
                  "Mcd1 = " +
                      dot +
                      "/memcards/card1.mcd\n"
                      "Mcd2 = " +
                      dot +
                      "/memcards/card2.mcd\n"
                      "BiosDir = " +
                      dot +
                      "/bios/\n"
                      "PluginsDir = " +
                      dot +
                      "/plugins/\n"
                      "IsoImgDir = \n"
                      "Xa = 0\nSioIrq = 0\nMdec = 0\nPsxAuto = 1\nCdda = 0\nSlowBoot = 0\n"
                      "Dbg = 0\nPsxOut = 1\nSpuIrq = 0\nRCntFix = 0\nVSyncWA = 0\n"
                      "Widescreen = 0\nCpu = 0\nPsxType = 0\n");
}

EmulatorRun::~EmulatorRun()
{
    if (pid > 0 && !exited)
        waitForExit(0);
    if (reader.joinable())
        reader.join();
}

void EmulatorRun::writePluginSettings(const std::string& text)
{
    writeFileText(pluginFolder() + "/cfg/spuTalvane.cfg", text);
}

bool EmulatorRun::start(const std::string& program, const std::string& privateDsp,
                        const std::vector<std::string>& environment)
{
    std::vector<std::string> args;
    if (!privateDsp.empty())
    {
        args = {"unshare", "--mount", "--propagation",
                "private", "bash",    std::string(SPU_SOURCE_DIR) + "/tests/realhost/private-dsp.sh",
                privateDsp};
    }
    // Line-buffered, so that each line of the program's output arrives as printed.
    for (const char* arg : {"stdbuf", "-oL", PcsxrProgram, "-nogui", "-cfg", SettingsName})
        args.push_back(arg);
    args.push_back(program);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0)
    {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        setpgid(0, 0);
        // A crash is judged by the signal, without core files left behind.
        rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        setenv("HOME", home.c_str(), 1);
        for (const std::string& entry : environment)
            putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    reader = std::thread([this, fd = fds[0]] { readOutput(fd); });
    return true;
}

void EmulatorRun::readOutput(int fd)
{
    char buffer[1024];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        partial.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = partial.find('\n')) != std::string::npos)
        {
            lines.push_back(partial.substr(0, end));
            lineTimes.push_back(std::chrono::steady_clock::now());
            partial.erase(0, end + 1);
        }
        changed.notify_all();
    }
    close(fd);
}

bool EmulatorRun::waitForLine(const std::string& text, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const std::string& line : lines)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    });
}

void EmulatorRun::interrupt()
{
    // To the emulation thread. A SIGINT to the whole process may be taken by any
    // thread that does not block it, and pcsxr's handler, which closes and unloads
    // all plugins, then runs beside the emulation thread, which goes on calling
    // the closed pad and GPU plugins: a crash of the host's own making. Aimed at
    // the emulation thread, the handler finds the plugins as Ctrl-C usually does.
    if (pid > 0 && !exited)
        syscall(SYS_tgkill, pid, pid, SIGINT);
}

int EmulatorRun::waitForExit(int timeoutMs)
{
    if (pid <= 0 || exited)
        return status;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Looked at without reaping: while the emulator is a zombie its process group
    // is still its own, so what is left of that group can be ended safely.
    siginfo_t info = {};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0)
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            killed = true;
            kill(-pid, SIGKILL);
            break;
        }
        usleep(10000);
    }
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
    exited = true;
    if (reader.joinable())
        reader.join();
    return status;
}

std::vector<EmulatorRun::ThreadMask> EmulatorRun::threadMasks()
{
    std::vector<ThreadMask> threads;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr)
        return threads;
    while (dirent* entry = readdir(dir))
    {
        if (entry->d_name[0] == '.')
            continue;
        ThreadMask thread;
        std::ifstream comm(tasks + "/" + entry->d_name + "/comm");
        std::getline(comm, thread.name);
        std::ifstream status(tasks + "/" + entry->d_name + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.compare(0, 7, "SigBlk:") == 0)
                thread.blocked = std::strtoull(line.c_str() + 7, nullptr, 16);
        threads.push_back(thread);
    }
    closedir(dir);
    return threads;
}

bool EmulatorRun::lineTime(const std::string& text, std::chrono::steady_clock::time_point* when)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(text) != std::string::npos)
        {
            *when = lineTimes[i];
            return true;
        }
    return false;
}

std::vector<std::string> EmulatorRun::getLines()
{
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
}

std::string EmulatorRun::getOutput()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text + partial;
}
