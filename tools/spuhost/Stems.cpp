#include "spuhost/Stems.h"

#include "spuhost/VoiceMask.h"
#include "spuhost/VoiceTraffic.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace Stems
{
std::string fileName(int source)
{
    if (source == VoiceMask::Cd)
        return "cd.wav";
    char name[32];
    std::snprintf(name, sizeof(name), "voice-%02d.wav", source);
    return name;
}

bool makeFolder(const std::string& dir, const char* command)
{
    struct stat st;
    if (mkdir(dir.c_str(), 0777) == 0 || (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
        return true;
    std::fprintf(stderr, "spuhost %s: cannot make the folder '%s': %s\n", command, dir.c_str(),
                 std::strerror(errno));
    return false;
}

bool canSound(const VoiceTraffic& traffic, int source)
{
    return source == VoiceMask::Cd ? traffic.cdInputs() > 0 : traffic.voice(source).keyOns() > 0;
}

bool sounds(const short* frames, unsigned long count)
{
    for (unsigned long i = 0; i < 2 * count; ++i)
        if (frames[i] != 0)
            return true;
    return false;
}
} // namespace Stems
