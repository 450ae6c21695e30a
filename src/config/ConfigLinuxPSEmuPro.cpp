#include "config/ConfigLinuxPSEmuPro.h"

#include <cstring>
#include <sys/stat.h>

const char* ConfigLinuxPSEmuPro::CfgFile = "./cfg/spuTalvane.cfg";

namespace
{
// The keys in file order, each with its field.
struct Key
{
    const char* name;
    int Config::*field;
};

const Key Keys[] = {
    {"AudioDevice", &Config::AudioDevice},
    {"SoundBufferSize", &Config::SoundBufferSize},
    {"AudioOutMethod", &Config::AudioOutMethod},
    {"AsyncMode", &Config::AsyncMode},
    {"ShowRealtimeConfigWindow", &Config::ShowRealtimeConfigWindow},
    {"WaitForXABufferIsFree", &Config::WaitForXABufferIsFree},
    {"CacheVagDecode", &Config::CacheVagDecode},
    {"Finetune", &Config::Finetune},
    {"ReverbType", &Config::ReverbType},
    {"RecOpt", &Config::RecOpt},
    {"UpdateBeforeRegisterAccess", &Config::UpdateBeforeRegisterAccess},
    {"SPUIRQWaitCPUAction", &Config::SPUIRQWaitCPUAction},
    {"SPUIRQForceInterruptFlag7", &Config::SPUIRQForceInterruptFlag7},
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
} // namespace

ConfigLinuxPSEmuPro::ConfigLinuxPSEmuPro() {}

ConfigLinuxPSEmuPro::~ConfigLinuxPSEmuPro() {}

int ConfigLinuxPSEmuPro::openConfigData(FILE*& file)
{
    file = std::fopen(CfgFile, "r+");
    if (file != nullptr)
        return 0;
    // The folder may not exist yet on a first run; without it the file cannot be made.
    mkdir("./cfg", 0755);
    file = std::fopen(CfgFile, "w+");
    if (file != nullptr)
        return 1;
    std::fprintf(stderr, "open %s failed.\r\n", CfgFile);
    return -1;
}

int ConfigLinuxPSEmuPro::closeConfigData(FILE* file)
{
    return std::fclose(file);
}

// The first line whose start matches the key (only strlen(key) characters are
// compared) gives the value: the first number after its "=", with an optional "-"
// directly before the digits. Digits beyond the int range saturate.
int ConfigLinuxPSEmuPro::getConfigValue(FILE* file, const char* key)
{
    std::rewind(file);
    const size_t keyLength = std::strlen(key);
    char line[256];
    while (std::fgets(line, sizeof(line), file) != nullptr)
    {
        if (std::strncmp(line, key, keyLength) != 0)
            continue;

        const char* p = std::strchr(line, '=');
        if (p == nullptr)
            return 0;
        ++p;
        bool negative = false;
        while (*p != '\0' && !isDigit(*p))
        {
            if (*p == '-')
            {
                negative = true;
                ++p;
                break;
            }
            ++p;
        }
        if (*p == '\0')
            return 0;

        long long value = 0;
        while (isDigit(*p))
        {
            if (value <= 2147483648LL)
                value = value * 10 + (*p - '0');
            ++p;
        }
        if (negative)
            return value >= 2147483648LL ? -2147483647 - 1 : static_cast<int>(-value);
        return value > 2147483647LL ? 2147483647 : static_cast<int>(value);
    }
    return 0;
}

void ConfigLinuxPSEmuPro::setConfigValue(FILE* file, const char* key, int value)
{
    std::fprintf(file, "%s = %d\n", key, value);
}

void ConfigLinuxPSEmuPro::loadConfig()
{
    FILE* file = nullptr;
    const int opened = openConfigData(file);
    setDefaultValue();
    if (opened < 0)
        return;
    if (opened == 1)
    {
        closeConfigData(file);
        saveConfig();
        if (openConfigData(file) < 0)
            return;
    }
    for (const Key& key : Keys)
        this->*key.field = getConfigValue(file, key.name);
    closeConfigData(file);
}

// Rewrites the thirteen lines from the start of the file without truncating it; a
// longer old tail stays behind them, and since the first matching line wins on
// reading, it never overrides the new values.
int ConfigLinuxPSEmuPro::saveConfig()
{
    FILE* file = nullptr;
    if (openConfigData(file) < 0)
        return -1;
    std::rewind(file);
    for (const Key& key : Keys)
        setConfigValue(file, key.name, this->*key.field);
    return closeConfigData(file);
}
