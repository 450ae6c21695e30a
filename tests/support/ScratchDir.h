#pragma once

// A fresh folder under /tmp for one test (or one test program), removed with all it
// holds when the object goes. The plugin reads ./cfg/spuTalvane.cfg and the recorder
// writes ./spulog.spu in the working folder, so a test that drives them in-process
// works inside the folder (WorkInside) and is taken back where it came from at the
// end; one that hands the folder to a child process or to spuhost stays put.
//
// Plain POSIX and no gtest: the caller decides what a failure means (ok() and
// error()). Only the process that made the folder removes it, so a forked child
// that ends some other way than _exit leaves it to its parent. The removal does not
// cross into another file system mounted inside the folder.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

class ScratchDir
{
public:
    enum Workplace
    {
        StayPut,   // the working folder stays what it was
        WorkInside // the folder becomes the working folder until close()
    };

    // `name` starts the folder's name ("/tmp/<name>-XXXXXX"), so that one left
    // behind by a crash says which test made it.
    explicit ScratchDir(Workplace where = StayPut, const std::string& name = "spu-test") : owner(getpid())
    {
        std::string pattern = "/tmp/" + name + "-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr)
        {
            problem = "cannot make " + pattern + ": " + std::strerror(errno);
            return;
        }
        folder = pattern;
        if (where == WorkInside)
            enter();
    }

    ~ScratchDir()
    {
        if (getpid() != owner)
            return;
        if (!close())
            std::fprintf(stderr, "ScratchDir: %s\n", problem.c_str());
        if (!previous.empty())
            std::abort(); // could not go back: whatever ran next would read and write in here
    }

    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // False, with error() saying why, when the folder could not be made or entered.
    bool ok() const { return problem.empty(); }
    const std::string& error() const { return problem; }
    const std::string& path() const { return folder; }
    std::string file(const std::string& name) const { return folder + "/" + name; }

    // Makes the folder the working folder; close() goes back.
    bool enter()
    {
        if (folder.empty() || !previous.empty())
            return false;
        char* cwd = getcwd(nullptr, 0);
        const std::string here = cwd != nullptr ? cwd : "/";
        std::free(cwd);
        if (chdir(folder.c_str()) != 0)
        {
            problem = "cannot enter " + folder + ": " + std::strerror(errno);
            return false;
        }
        previous = here;
        return true;
    }

    // Back to the folder the test came from (if it entered), then the folder and
    // everything in it removed. Once only; true when both worked.
    bool close()
    {
        if (getpid() != owner)
            return true;
        if (!previous.empty())
        {
            if (chdir(previous.c_str()) != 0)
            {
                problem = "cannot return to " + previous + ": " + std::strerror(errno);
                return false;
            }
            previous.clear();
        }
        if (folder.empty())
            return true;
        struct stat top;
        const bool removed = lstat(folder.c_str(), &top) == 0 && removeTree(folder, top.st_dev);
        if (!removed)
            problem = "cannot remove all of " + folder;
        folder.clear();
        return removed;
    }

private:
    static bool removeTree(const std::string& path, dev_t device)
    {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            return false;
        if (!S_ISDIR(st.st_mode))
            return unlink(path.c_str()) == 0;
        if (st.st_dev != device)
            return false; // a mount inside the folder: not ours to empty
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr)
            return false;
        bool all = true;
        while (const dirent* entry = readdir(dir))
        {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                all = removeTree(path + "/" + name, device) && all;
        }
        closedir(dir);
        return rmdir(path.c_str()) == 0 && all;
    }

    pid_t owner;
    std::string folder;
    std::string previous;
    std::string problem;
};
