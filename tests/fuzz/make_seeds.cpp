// Writes the seed corpora of the fuzz targets into DIR/calls, DIR/settings,
// DIR/log and DIR/wav: scenes of the demo tune as host call sequences (with save
// states taken and loaded while it plays, XA and CD-DA, transfers, interrupts),
// settings files, event logs made by the plugin's own recorder, and WAV files.
// Usage: make_seeds DIR (the committed corpora are tests/fuzz/corpus).

#include "fuzz/CallSequence.h"
#include "fuzz/DemoScenes.h"
#include "fuzz/PluginHost.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{
std::string root;

void save(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes)
{
    const std::string folder = root + "/" + target;
    mkdir(folder.c_str(), 0755);
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        fuzz::fail("cannot write " + folder + "/" + name);
}

std::vector<int16_t> tone(size_t entries, int period, int amplitude)
{
    std::vector<int16_t> out(entries);
    for (size_t i = 0; i < entries; ++i)
        out[i] = static_cast<int16_t>(amplitude * std::sin(6.2831853 * static_cast<double>(i / 2) / period));
    return out;
}

std::vector<uint16_t> instrumentWords(size_t count)
{
    const std::string& bytes = fuzz::demoInstruments();
    std::vector<uint16_t> words(std::min(count, bytes.size() / 2));
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                         static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    return words;
}

void callSeeds()
{
    const size_t setup = fuzz::demoSetupEnd();
    const size_t steps = fuzz::demoSteps().size();
    // The tune's opening, and two passages from later on, each after the set-up.
    const size_t starts[] = {setup, setup + (steps - setup) / 3, setup + 2 * (steps - setup) / 3};
    for (int i = 0; i < 3; ++i)
    {
        fuzz::CallWriter w;
        fuzz::writeDemo(w, starts[i], starts[i] + 40, 8, i == 0 ? fuzz::AllInstruments : 2048);
        save("calls", "demo-" + std::to_string(i), w.data());
    }

    // Save states taken while the tune plays: saved, played on, loaded back; then
    // one whose key registers and XA part were changed before loading.
    {
        fuzz::CallWriter w;
        fuzz::writeDemo(w, setup, setup + 30, 8, 2048);
        w.save();
        w.render(32);
        w.load();
        w.render(32);
        w.patch(16 + 2 * 0xC4, {0x0F, 0x00, 0x00, 0x00}); // key-on register image: voices 0-3
        w.patch(16 + 2 * 0xC6, {0x02, 0x00});             // key-off register image: voice 1
        w.patchSavedXa(37800, 1, 2016);
        w.load();
        w.render(64);
        w.sizeQuery();
        save("calls", "demo-save-load", w.data());
    }

    // CD audio: XA sectors at both rates, CD-DA sectors, a chunk of an odd length,
    // chunks faster than they play, all while the recorder runs.
    {
        fuzz::CallWriter w;
        w.record();
        w.writeRegister(0x1F801DB0, 0x7FFF);
        w.writeRegister(0x1F801DB2, 0x7FFF);
        w.writeRegister(0x1F801DAA, 0xC004);
        for (int i = 0; i < 3; ++i)
        {
            w.playXA(37800, 1, 2016, tone(4032, 40, 12000));
            w.render(64);
        }
        w.playXA(18900, 0, 4032, tone(4032, 30, 9000));
        w.render(64);
        for (int i = 0; i < 4; ++i)
            w.playCDDA(tone(1176, 50, 15000));
        w.render(64);
        std::vector<int16_t> odd = tone(1177, 60, 8000);
        w.playCDDA(odd);
        w.render(64);
        w.record();
        save("calls", "cd-audio", w.data());
    }

    // Transfers: blocks read back, single words, the data port, an interrupt at the
    // transfer address with rendering held for the CPU.
    {
        fuzz::CallWriter w(4, 0x80 | 0x02);
        w.checkedBlock(0x0200, instrumentWords(2048));
        w.writeRegister(0x1F801DA6, 0x0300);
        w.call(fuzz::WriteDMA);
        w.writeRegister(0x1F801DA6, 0x0300);
        w.call(fuzz::ReadDMA);
        w.readBlock(64);
        w.writeRegister(0x1F801DAA, 0xC010);
        for (int i = 0; i < 8; ++i)
            w.writeRegister(0x1F801DA8, static_cast<uint16_t>(0x1111 * i));
        w.writeRegister(0x1F801DAA, 0xC000);
        w.writeRegister(0x1F801DA4, 0x0300);
        w.writeRegister(0x1F801DAA, 0xC040);
        w.writeRegister(0x1F801DA6, 0x02FF);
        w.writeBlock(std::vector<uint16_t>(16, 0x7777));
        w.render(64);
        w.readRegister(0x1F801DAE);
        w.writeRegister(0x1F801DAA, 0xC000);
        w.render(64);
        save("calls", "transfers", w.data());
    }

    // The output engine in each async mode: SPUasync as a host calls it, with the
    // device playing in between.
    for (int mode = 0; mode < 3; ++mode)
    {
        fuzz::CallWriter w(4, 0x80 | mode << 4, 0, 16);
        fuzz::writeDemo(w, setup, setup + 12, 4, 2048);
        for (int i = 0; i < 8; ++i)
        {
            w.async(768 * 40);
            w.drain(36 + 4 * (i % 3));
        }
        save("calls", "async-mode-" + std::to_string(mode), w.data());
    }

    // Every register of the window written and read, reverb off, with cache and
    // fine tuning, then rendered.
    {
        fuzz::CallWriter w(0, 0x80 | 0x01 | 0x04, 17, 64);
        w.checkedBlock(0x0200, instrumentWords(2048));
        for (uint32_t a = 0x1F801C00; a < 0x1F801E00; a += 2)
        {
            const bool pitch = a < 0x1F801D80 && (a & 0xF) == 4; // 14 bits; more only prints a warning
            w.writeRegister(a, static_cast<uint16_t>(a * 0x9E37 & (pitch ? 0x3FFF : 0xFFFF)));
        }
        for (uint32_t a = 0x1F801C00; a < 0x1F801E00; a += 2)
            w.readRegister(a);
        w.render(64);
        save("calls", "registers", w.data());
    }
}

void settingsSeeds()
{
    const std::string defaults =
        "AudioDevice = 3\nSoundBufferSize = 64\nAudioOutMethod = 0\nAsyncMode = 0\n"
        "ShowRealtimeConfigWindow = 0\nWaitForXABufferIsFree = 1\nCacheVagDecode = 0\n"
        "Finetune = 0\nReverbType = 4\nRecOpt = 5\nUpdateBeforeRegisterAccess = 0\n"
        "SPUIRQWaitCPUAction = 0\nSPUIRQForceInterruptFlag7 = 0\n";
    const std::string variants[] = {
        defaults,
        "AudioOutMethod = 2\nAsyncMode = 2\nSoundBufferSize = 8\nReverbType = 2\nCacheVagDecode = 1\n",
        "AudioOutMethod=2\nAsyncMode=1\nFinetune=-12\nReverbType=1\nUpdateBeforeRegisterAccess = 1\n",
        "SoundBufferSize = 128 a comment after the value\nFinetune = - 12\nReverbType = "
        "3\nSPUIRQWaitCPUAction = 1\n",
        "AudioDeviceX = 1\nReverbType = 99\nReverbType = 0\nSoundBufferSize = 999\nSPUIRQForceInterruptFlag7 "
        "= 1\n",
        "Finetune = 360\nSoundBufferSize = -5\nAsyncMode = 7\nAudioOutMethod = 2\nReverbType = 5\n",
        "Finetune = 99999999999\nSoundBufferSize = 2147483647\nAudioOutMethod = 2\nRecOpt = -1\n",
        "=\nReverbType\nFinetune = -2147483648\nAudioOutMethod = 3\n",
    };
    int n = 0;
    for (const std::string& text : variants)
        save("settings", "settings-" + std::to_string(n++), std::vector<uint8_t>(text.begin(), text.end()));
}

// Logs made by the plugin's recorder, started before anything was uploaded so
// that the snapshot at their head is silence: the log target supplies those
// 0x80000 bytes itself, and the seeds start with the register image.
void logSeeds()
{
    const size_t setup = fuzz::demoSetupEnd();
    auto recordScene = [](const std::string& name, fuzz::CallWriter& w) {
        fuzz::runCallSequence(w.data().data(), w.data().size());
        std::ifstream in("spulog.spu", std::ios::binary);
        const std::vector<uint8_t> log((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
        if (log.size() < 0x80204)
            fuzz::fail("the recorder wrote no log");
        save("log", name, std::vector<uint8_t>(log.begin() + 0x80000, log.end()));
    };
    {
        fuzz::CallWriter w;
        w.record();
        fuzz::writeDemo(w, setup, setup + 40, 16, 2048);
        w.readRegister(0x1F801D9C);
        w.readBlock(32);
        w.record();
        recordScene("demo", w);
    }
    {
        fuzz::CallWriter w;
        w.record();
        w.writeRegister(0x1F801DB0, 0x4000);
        w.writeRegister(0x1F801DB2, 0x4000);
        w.playXA(37800, 1, 2016, tone(4032, 40, 12000));
        w.render(200);
        w.playCDDA(tone(1176, 50, 15000));
        w.render(200);
        w.record();
        recordScene("cd-audio", w);
    }
}

std::vector<uint8_t> wav(uint16_t format, uint16_t channels, uint32_t rate,
                         const std::vector<int16_t>& samples, bool extraChunk)
{
    std::vector<uint8_t> out;
    auto put16 = [&out](uint16_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&put16](uint32_t v) {
        put16(static_cast<uint16_t>(v));
        put16(static_cast<uint16_t>(v >> 16));
    };
    auto tag = [&out](const char* t) { out.insert(out.end(), t, t + 4); };
    tag("RIFF");
    put32(0);
    tag("WAVE");
    if (extraChunk)
    {
        tag("LIST");
        put32(5);
        tag("INFO");
        out.push_back('x');
        out.push_back(0); // padding of the odd size
    }
    tag("fmt ");
    put32(16);
    put16(format);
    put16(channels);
    put32(rate);
    put32(rate * channels * 2);
    put16(static_cast<uint16_t>(channels * 2));
    put16(16);
    tag("data");
    put32(static_cast<uint32_t>(2 * samples.size()));
    for (int16_t s : samples)
        put16(static_cast<uint16_t>(s));
    const uint32_t riff = static_cast<uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return out;
}

void wavSeeds()
{
    save("wav", "mono-22050", wav(1, 1, 22050, tone(400, 25, 20000), false));
    save("wav", "stereo-44100", wav(1, 2, 44100, tone(600, 30, 30000), true));
    save("wav", "extensible-3ch", wav(0xFFFE, 3, 8000, tone(300, 20, 32767), false));
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    char* resolved = realpath(argv[1], nullptr);
    if (resolved == nullptr)
    {
        std::perror(argv[1]);
        return 1;
    }
    root = resolved;
    std::free(resolved);
    fuzz::startPlugin();
    callSeeds();
    settingsSeeds();
    logSeeds();
    wavSeeds();
    return 0;
}
