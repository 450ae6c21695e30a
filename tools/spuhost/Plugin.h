#pragma once

#include "spuhost/PsxRecords.h"

#include <cstdint>
#include <string>

// A PSEmu Pro sound plugin loaded with dlopen, seen only through its exported C
// functions, exactly as an emulator sees it. The standard exports are required;
// the newer ones (SPUrender, SPUasync, SPUfreeze, the CD inputs) are optional and
// null when the plugin lacks them.
//
// Every pointer type is the export's own type, parameter types included: a call
// through a pointer of another type is undefined. The members are public so that a
// program linking a plugin directly can fill them without load().
class Plugin
{
public:
    typedef const char* (*GetLibNameFn)();
    typedef unsigned long (*GetLibULongFn)();
    typedef long (*LongFn)();
    typedef long (*OpenFn)(...);
    typedef void (*WriteRegisterFn)(unsigned long, unsigned short);
    typedef unsigned short (*ReadRegisterFn)(unsigned long);
    typedef void (*WriteDMAFn)(unsigned short);
    typedef unsigned short (*ReadDMAFn)();
    typedef void (*DMAMemFn)(unsigned short*, int);
    typedef void (*AsyncFn)(unsigned long);
    typedef void (*RenderFn)(short*, unsigned long);
    typedef void (*RegisterCallbackFn)(void (*)(void));
    typedef long (*FreezeFn)(unsigned long, SPUFreeze_t*);
    typedef void (*PlayADPCMFn)(xa_decode_t*);
    typedef void (*PlayCDDAFn)(short*, int);

    Plugin();
    ~Plugin();

    // Loads the library; on failure returns false and sets error().
    bool load(const std::string& path);
    const std::string& error() const { return lastError; }

    GetLibNameFn PSEgetLibName = nullptr;
    GetLibULongFn PSEgetLibType = nullptr;
    GetLibULongFn PSEgetLibVersion = nullptr;
    LongFn SPUinit = nullptr;
    LongFn SPUshutdown = nullptr;
    OpenFn SPUopen = nullptr;
    LongFn SPUclose = nullptr;
    WriteRegisterFn SPUwriteRegister = nullptr;
    ReadRegisterFn SPUreadRegister = nullptr;
    DMAMemFn SPUwriteDMAMem = nullptr;
    DMAMemFn SPUreadDMAMem = nullptr;

    WriteDMAFn SPUwriteDMA = nullptr;
    ReadDMAFn SPUreadDMA = nullptr;
    AsyncFn SPUasync = nullptr;
    RenderFn SPUrender = nullptr;
    RegisterCallbackFn SPUregisterCallback = nullptr;
    FreezeFn SPUfreeze = nullptr;
    PlayADPCMFn SPUplayADPCMchannel = nullptr;
    PlayCDDAFn SPUplayCDDAchannel = nullptr;

private:
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    void* handle = nullptr;
    std::string lastError;
};
