#include "spuhost/Plugin.h"

#include <dlfcn.h>

Plugin::Plugin() {}

Plugin::~Plugin()
{
    if (handle != nullptr)
        dlclose(handle);
}

namespace
{
template <typename T>
bool resolve(void* handle, const char* name, T& function, bool required, std::string& error)
{
    function = reinterpret_cast<T>(dlsym(handle, name));
    if (function == nullptr && required)
    {
        error = std::string("plugin lacks the export ") + name;
        return false;
    }
    return true;
}
} // namespace

bool Plugin::load(const std::string& path)
{
    // A relative name without a slash would make dlopen search the library path.
    const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
    {
        const char* message = dlerror();
        lastError = message != nullptr ? message : "dlopen failed";
        return false;
    }
    bool ok = true;
    ok = ok && resolve(handle, "PSEgetLibName", PSEgetLibName, true, lastError);
    ok = ok && resolve(handle, "PSEgetLibType", PSEgetLibType, true, lastError);
    ok = ok && resolve(handle, "PSEgetLibVersion", PSEgetLibVersion, true, lastError);
    ok = ok && resolve(handle, "SPUinit", SPUinit, true, lastError);
    ok = ok && resolve(handle, "SPUshutdown", SPUshutdown, true, lastError);
    ok = ok && resolve(handle, "SPUopen", SPUopen, true, lastError);
    ok = ok && resolve(handle, "SPUclose", SPUclose, true, lastError);
    ok = ok && resolve(handle, "SPUwriteRegister", SPUwriteRegister, true, lastError);
    ok = ok && resolve(handle, "SPUreadRegister", SPUreadRegister, true, lastError);
    ok = ok && resolve(handle, "SPUwriteDMAMem", SPUwriteDMAMem, true, lastError);
    ok = ok && resolve(handle, "SPUreadDMAMem", SPUreadDMAMem, true, lastError);
    if (!ok)
        return false;
    resolve(handle, "SPUwriteDMA", SPUwriteDMA, false, lastError);
    resolve(handle, "SPUreadDMA", SPUreadDMA, false, lastError);
    resolve(handle, "SPUasync", SPUasync, false, lastError);
    resolve(handle, "SPUrender", SPUrender, false, lastError);
    resolve(handle, "SPUregisterCallback", SPUregisterCallback, false, lastError);
    resolve(handle, "SPUfreeze", SPUfreeze, false, lastError);
    resolve(handle, "SPUplayADPCMchannel", SPUplayADPCMchannel, false, lastError);
    resolve(handle, "SPUplayCDDAchannel", SPUplayCDDAchannel, false, lastError);
    return true;
}
