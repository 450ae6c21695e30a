#include "HostFixture.h"
#include "support/ScratchDir.h"

#include <array>
#include <cstring>
#include <cstdio>
#include <dlfcn.h>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace
{
std::string run(const std::string& command, int& status)
{
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), n);
    status = pclose(pipe);
    return output;
}

const char* const Exports[] = {
    "PSEgetLibName",
    "PSEgetLibType",
    "PSEgetLibVersion",
    "SPUinit",
    "SPUopen",
    "SPUclose",
    "SPUshutdown",
    "SPUtest",
    "SPUconfigure",
    "SPUabout",
    "SPUwriteRegister",
    "SPUreadRegister",
    "SPUwriteDMA",
    "SPUreadDMA",
    "SPUwriteDMAMem",
    "SPUreadDMAMem",
    "SPUplayADPCMchannel",
    "SPUplayCDDAchannel",
    "SPUregisterCallback",
    "SPUregisterCDDAVolume",
    "SPUasync",
    "SPUupdate",
    "SPUrender",
    "SPUfreeze",
    "SPUgetOne",
    "SPUputOne",
    "SPUsetAddr",
    "SPUsetPitch",
    "SPUsetVolumeL",
    "SPUsetVolumeR",
    "SPUstartChannels1",
    "SPUstartChannels2",
    "SPUstopChannels1",
    "SPUstopChannels2",
    "SPUplaySample",
    "SPUplaySector",
    "getHinstance",
};
} // namespace

using ExportsTest = HostTest;

TEST_F(ExportsTest, TheLibraryExportsExactlyTheEntryPoints)
{
    int status = 0;
    const std::string symbols = run(std::string("nm -D --defined-only ") + SPU_PLUGIN_PATH, status);
    ASSERT_EQ(0, status) << symbols;
    std::set<std::string> defined;
    std::istringstream lines(symbols);
    for (std::string line; std::getline(lines, line);)
    {
        const size_t space = line.rfind(' ');
        defined.insert(line.substr(space + 1));
    }
    const std::set<std::string> expected(std::begin(Exports), std::end(Exports));
    EXPECT_EQ(expected, defined);
}

TEST_F(ExportsTest, IdentifiesItselfToTheHost)
{
    EXPECT_STREQ("Talvane SPU Plugin", plugin().PSEgetLibName());
    EXPECT_EQ(4u, plugin().PSEgetLibType());
    EXPECT_EQ(65833u, plugin().PSEgetLibVersion());
    void* self = dlopen(SPU_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, self);
    auto getOne = reinterpret_cast<unsigned short (*)(unsigned long)>(dlsym(self, "SPUgetOne"));
    auto test = reinterpret_cast<long (*)()>(dlsym(self, "SPUtest"));
    auto hinstance = reinterpret_cast<void* (*)()>(dlsym(self, "getHinstance"));
    EXPECT_EQ(0, getOne(0x1F801C00));
    EXPECT_EQ(0, getOne(12345));
    EXPECT_EQ(0, test());
    EXPECT_EQ(nullptr, hinstance());
    dlclose(self);
}

TEST_F(ExportsTest, FirstInitCreatesTheConfigurationFile)
{
    init();
    std::ifstream file("cfg/spuTalvane.cfg");
    ASSERT_TRUE(file.good());
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    ASSERT_EQ(13u, lines.size());
    EXPECT_EQ("AudioDevice = 3", lines.front());
    EXPECT_EQ("SPUIRQForceInterruptFlag7 = 0", lines.back());
    EXPECT_EQ("ReverbType = 4", lines[8]);
}

TEST_F(ExportsTest, RegistersReadBackThroughTheExports)
{
    init();
    Plugin& p = plugin();
    p.SPUwriteRegister(0x1F801D88, 0x0003);
    EXPECT_EQ(0x0003, p.SPUreadRegister(0x1F801D88));
    EXPECT_EQ(0xFFFC, p.SPUreadRegister(0x1F801D9C)); // voices 0 and 1 keyed on
    p.SPUwriteRegister(0x1F801D9E, 0xFFFF);
    EXPECT_EQ(0x00FF, p.SPUreadRegister(0x1F801D9E));
    p.SPUwriteRegister(0x1F801DAE, 0xF800);
    p.SPUwriteRegister(0x1F801DAA, 0x0020);
    EXPECT_EQ(0xFAA0, p.SPUreadRegister(0x1F801DAE));
    p.SPUwriteRegister(0x1F801C04, 0x0FFF);
    EXPECT_EQ(0x0FFF, p.SPUreadRegister(0x1F801C04));
    p.SPUwriteRegister(0x1F801E00, 0x1234);
    EXPECT_EQ(0, p.SPUreadRegister(0x1F801E00));
    EXPECT_EQ(0, p.SPUreadRegister(0x1F801BFE));
    EXPECT_EQ(0, p.SPUclose());
    EXPECT_EQ(0, p.SPUshutdown());
}

TEST_F(ExportsTest, SoundRamFillsAndReadsBackThroughDMA)
{
    init();
    Plugin& p = plugin();
    p.SPUwriteRegister(0x1F801DAA, 0x0020);
    p.SPUwriteRegister(0x1F801DA6, 0x0FFF);
    for (unsigned short v = 1; v <= 4; ++v)
        p.SPUwriteDMA(v);
    std::vector<unsigned short> block(0x400);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned short>(i * 7);
    p.SPUwriteRegister(0x1F801DA6, 0xFFF0); // 0x7FF80: the block wraps to the start
    p.SPUwriteDMAMem(block.data(), static_cast<int>(block.size()));
    EXPECT_EQ(0x0000, p.SPUreadRegister(0x1F801DAE));
    EXPECT_EQ(0x0000, p.SPUreadRegister(0x1F801DAA));

    std::vector<unsigned short> back(block.size());
    p.SPUwriteRegister(0x1F801DA6, 0xFFF0);
    p.SPUreadDMAMem(back.data(), static_cast<int>(back.size()));
    EXPECT_EQ(block, back);
    p.SPUwriteRegister(0x1F801DA6, 0xFFF0);
    EXPECT_EQ(block[0], p.SPUreadDMA());
    EXPECT_EQ(block[1], p.SPUreadDMA());

    p.SPUwriteDMAMem(nullptr, 100); // a faulty host: nothing happens
    p.SPUreadDMAMem(nullptr, 100);
    EXPECT_EQ(block[2], p.SPUreadDMA());
    p.SPUshutdown();
}

TEST_F(ExportsTest, RenderFillsWholeFramesOnly)
{
    init();
    Plugin& p = plugin();
    std::vector<short> buffer(4096, 0x5A5A);
    p.SPUrender(buffer.data(), 4096);
    for (size_t i = 0; i < 2048; ++i)
        ASSERT_EQ(0, buffer[i]) << i;
    for (size_t i = 2048; i < buffer.size(); ++i)
        ASSERT_EQ(0x5A5A, buffer[i]) << i;

    std::vector<short> small(8, 0x5A5A);
    p.SPUrender(small.data(), 3);
    p.SPUrender(small.data(), 0);
    p.SPUrender(nullptr, 4096);
    EXPECT_EQ(std::vector<short>(8, 0x5A5A), small);
    p.SPUrender(small.data(), 7);
    EXPECT_EQ(0, small[0]);
    EXPECT_EQ(0, small[1]);
    EXPECT_EQ(0x5A5A, small[2]);
    p.SPUshutdown();
}

TEST_F(ExportsTest, FreezeWithANullRecordDoesNothing)
{
    init();
    ASSERT_NE(nullptr, plugin().SPUfreeze);
    EXPECT_EQ(0, plugin().SPUfreeze(0, nullptr));
    EXPECT_EQ(0, plugin().SPUfreeze(1, nullptr));
    EXPECT_EQ(0, plugin().SPUfreeze(2, nullptr));
    std::vector<unsigned char> header(16, 0xEE);
    header.resize(FreezeRecordSize, 0xEE);
    EXPECT_EQ(1, plugin().SPUfreeze(2, reinterpret_cast<SPUFreeze_t*>(header.data())));
    EXPECT_EQ(0, std::memcmp(header.data(), "DIRIR\0", 6));
    EXPECT_EQ(0xEE, header[6]);
    EXPECT_EQ(1, header[8]);
    EXPECT_EQ(0x30, header[12]);
    EXPECT_EQ(0x86, header[13]);
    EXPECT_EQ(0x08, header[14]);
    EXPECT_EQ(0xEE, header[16]);
    plugin().SPUshutdown();
}

TEST(SpuhostTest, ScriptRunsThroughTheExportsAndRecordsReads)
{
    ScratchDir scratch(ScratchDir::StayPut, "spu-host");
    ASSERT_TRUE(scratch.ok()) << scratch.error();
    const std::string dir = scratch.path();
    std::ofstream(dir + "/words.bin", std::ios::binary).write("\x11\x11\x22\x22", 4);
    std::ofstream(dir + "/s.txt") << "init  # reset\n"
                                     "w 1F801DA6 0010\n"
                                     "dma 0xAAAA BBBB\n"
                                     "dmafile words.bin\n"
                                     "w 1F801DA6 0010\n"
                                     "r 1F801DA6\n"
                                     "\n"
                                     "w 1F801D88 0003\n"
                                     "r 1F801D88\n"
                                     "render 3\n"
                                     "shutdown\n";
    int status = 0;
    const std::string output = run("cd " + dir + " && " + SPU_HOST_PATH + " script " + SPU_PLUGIN_PATH +
                                       " s.txt --out out.raw --reads reads.txt",
                                   status);
    EXPECT_EQ(0, status) << output;
    std::ifstream reads(dir + "/reads.txt");
    std::stringstream text;
    text << reads.rdbuf();
    EXPECT_EQ("r 1F801DA6 0010\nr 1F801D88 0003\n", text.str());
    std::ifstream raw(dir + "/out.raw", std::ios::binary | std::ios::ate);
    EXPECT_EQ(12, static_cast<int>(raw.tellg()));

    std::ofstream(dir + "/bad.txt") << "init\nw 1F801D88\n";
    const std::string bad =
        run(std::string(SPU_HOST_PATH) + " script " + SPU_PLUGIN_PATH + " " + dir + "/bad.txt", status);
    EXPECT_NE(0, status);
    EXPECT_NE(std::string::npos, bad.find("bad.txt:2:")) << bad;
    std::ofstream(dir + "/unknown.txt") << "# fine\nfrobnicate 1\n";
    const std::string unknown =
        run(std::string(SPU_HOST_PATH) + " script " + SPU_PLUGIN_PATH + " " + dir + "/unknown.txt", status);
    EXPECT_NE(0, status);
    EXPECT_NE(std::string::npos, unknown.find("unknown.txt:2: unknown command 'frobnicate'")) << unknown;
    std::ofstream(dir + "/number.txt") << "w 1F801D88 12G4\n";
    run(std::string(SPU_HOST_PATH) + " script " + SPU_PLUGIN_PATH + " " + dir + "/number.txt", status);
    EXPECT_NE(0, status);
}

TEST(SpuhostTest, InfoReportsTheLibrary)
{
    int status = 0;
    const std::string output = run(std::string(SPU_HOST_PATH) + " info " + SPU_PLUGIN_PATH, status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, output.find("name: Talvane SPU Plugin\n"));
    EXPECT_NE(std::string::npos, output.find("type: 4\n"));
    EXPECT_NE(std::string::npos, output.find("version: 65833"));
    run(std::string(SPU_HOST_PATH) + " info /nonexistent.so", status);
    EXPECT_NE(0, status);
}
