#include "spuhost/Script.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

ScriptRunner::Extension::Extension(Install install)
{
    all().push_back(install);
}

std::vector<ScriptRunner::Extension::Install>& ScriptRunner::Extension::all()
{
    static std::vector<Install> installs;
    return installs;
}

ScriptRunner::ScriptRunner(Plugin& loaded, const std::string& path) : plugin(loaded), scriptPath(path)
{
    const size_t slash = path.rfind('/');
    scriptDir = slash == std::string::npos ? "." : path.substr(0, slash);

    auto noArgs = [this](const char* name, Plugin::LongFn Plugin::*fn) {
        addCommand(name, [this, fn](const Words& w) {
            if (w.size() != 1)
                return fail("'" + w[0] + "' takes no arguments");
            (plugin.*fn)();
            return true;
        });
    };
    noArgs("init", &Plugin::SPUinit);
    noArgs("close", &Plugin::SPUclose);
    noArgs("shutdown", &Plugin::SPUshutdown);
    addCommand("open", [this](const Words& w) {
        if (w.size() != 1)
            return fail("'open' takes no arguments");
        plugin.SPUopen(nullptr);
        return true;
    });
    addCommand("w", [this](const Words& w) {
        unsigned long long address, value;
        if (w.size() != 3 || !parseNumber(w[1], false, address) || !parseNumber(w[2], false, value) ||
            value > 0xFFFF)
            return fail("expected 'w ADDR VALUE' with hexadecimal numbers");
        plugin.SPUwriteRegister(static_cast<unsigned long>(address), static_cast<unsigned short>(value));
        return true;
    });
    addCommand("r", [this](const Words& w) {
        unsigned long long address;
        if (w.size() != 2 || !parseNumber(w[1], false, address))
            return fail("expected 'r ADDR' with a hexadecimal address");
        const unsigned short value = plugin.SPUreadRegister(static_cast<unsigned long>(address));
        if (reads != nullptr)
            std::fprintf(reads, "r %08llX %04X\n", address, value);
        return true;
    });
    addCommand("dma", [this](const Words& w) {
        std::vector<unsigned short> words;
        for (size_t i = 1; i < w.size(); ++i)
        {
            unsigned long long value;
            if (!parseNumber(w[i], false, value) || value > 0xFFFF)
                return fail("'dma' takes hexadecimal 16-bit words, not '" + w[i] + "'");
            words.push_back(static_cast<unsigned short>(value));
        }
        if (!words.empty())
            plugin.SPUwriteDMAMem(words.data(), static_cast<int>(words.size()));
        return true;
    });
    addCommand("dmafile", [this](const Words& w) {
        if (w.size() != 2)
            return fail("expected 'dmafile PATH'");
        std::ifstream in(resolvePath(w[1]), std::ios::binary);
        if (!in)
            return fail("cannot read '" + resolvePath(w[1]) + "'");
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        std::vector<unsigned short> words(bytes.size() / 2);
        for (size_t i = 0; i < words.size(); ++i)
            words[i] = static_cast<unsigned short>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (!words.empty())
            plugin.SPUwriteDMAMem(words.data(), static_cast<int>(words.size()));
        return true;
    });
    addCommand("render", [this](const Words& w) {
        unsigned long long frames;
        if (w.size() != 2 || !parseNumber(w[1], true, frames))
            return fail("expected 'render N' with a decimal frame count");
        return render(static_cast<unsigned long>(frames));
    });
    addCommand("async", [this](const Words& w) {
        unsigned long long cycles;
        if (w.size() != 2 || !parseNumber(w[1], true, cycles))
            return fail("expected 'async N' with a decimal cycle count");
        if (plugin.SPUasync == nullptr)
            return fail("the plugin has no SPUasync");
        plugin.SPUasync(static_cast<unsigned long>(cycles));
        return true;
    });
    for (Extension::Install install : Extension::all())
        install(*this);
}

ScriptRunner::~ScriptRunner()
{
    if (output != nullptr)
        std::fclose(output);
    if (reads != nullptr)
        std::fclose(reads);
}

bool ScriptRunner::setOutput(const std::string& path)
{
    output = std::fopen(path.c_str(), "wb");
    return output != nullptr;
}

bool ScriptRunner::setReads(const std::string& path)
{
    reads = std::fopen(path.c_str(), "w");
    return reads != nullptr;
}

bool ScriptRunner::parseNumber(const std::string& text, bool decimal, unsigned long long& value)
{
    std::string digits = text;
    if (!decimal && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty())
        return false;
    for (char c : digits)
        if (!(decimal ? std::isdigit(static_cast<unsigned char>(c))
                      : std::isxdigit(static_cast<unsigned char>(c))))
            return false;
    errno = 0;
    value = std::strtoull(digits.c_str(), nullptr, decimal ? 10 : 16);
    return errno == 0;
}

std::string ScriptRunner::resolvePath(const std::string& path) const
{
    if (!path.empty() && path[0] == '/')
        return path;
    return scriptDir + "/" + path;
}

bool ScriptRunner::fail(const std::string& message)
{
    std::fprintf(stderr, "%s:%d: %s\n", scriptPath.c_str(), lineNumber, message.c_str());
    return false;
}

void ScriptRunner::writeOutput(const short* samples, size_t frames)
{
    if (frameSink)
        frameSink(samples, frames);
    if (output == nullptr)
        return;
    for (size_t i = 0; i < 2 * frames; ++i)
    {
        const unsigned short s = static_cast<unsigned short>(samples[i]);
        const unsigned char bytes[2] = {static_cast<unsigned char>(s), static_cast<unsigned char>(s >> 8)};
        std::fwrite(bytes, 1, 2, output);
    }
}

bool ScriptRunner::render(unsigned long frames)
{
    if (plugin.SPUrender == nullptr)
        return fail("the plugin has no SPUrender");
    std::vector<short> buffer(2 * 4096);
    while (frames > 0)
    {
        const unsigned long chunk = frames < 4096 ? frames : 4096;
        plugin.SPUrender(buffer.data(), chunk * 4);
        writeOutput(buffer.data(), chunk);
        frames -= chunk;
    }
    return true;
}

bool ScriptRunner::run()
{
    std::ifstream in(scriptPath);
    if (!in)
    {
        std::fprintf(stderr, "spuhost: cannot read script '%s'\n", scriptPath.c_str());
        return false;
    }
    std::string line;
    lineNumber = 0;
    while (std::getline(in, line))
    {
        ++lineNumber;
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        Words w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty())
            continue;
        auto command = commands.find(w[0]);
        if (command == commands.end())
            return fail("unknown command '" + w[0] + "'");
        if (!command->second(w))
            return false;
    }
    return true;
}
