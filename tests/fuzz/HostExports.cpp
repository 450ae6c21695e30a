// The plugin's exports handed to the host tool's code as its Plugin, in a file of
// its own: the host declares the interface's records itself, as any host does.

#include "fuzz/PluginHost.h"
#include "plugin/Exports.h"
#include "spuhost/Plugin.h"

namespace fuzz
{
void linkExports(Plugin& plugin)
{
    plugin.PSEgetLibName = PSEgetLibName;
    plugin.PSEgetLibType = PSEgetLibType;
    plugin.PSEgetLibVersion = PSEgetLibVersion;
    plugin.SPUinit = SPUinit;
    plugin.SPUshutdown = SPUshutdown;
    plugin.SPUopen = SPUopen;
    plugin.SPUclose = SPUclose;
    plugin.SPUwriteRegister = SPUwriteRegister;
    plugin.SPUreadRegister = SPUreadRegister;
    plugin.SPUwriteDMAMem = SPUwriteDMAMem;
    plugin.SPUreadDMAMem = SPUreadDMAMem;
    plugin.SPUwriteDMA = SPUwriteDMA;
    plugin.SPUreadDMA = SPUreadDMA;
    plugin.SPUasync = SPUasync;
    plugin.SPUrender = SPUrender;
    plugin.SPUregisterCallback = SPUregisterCallback;
    plugin.SPUfreeze = SPUfreeze;
    plugin.SPUplayADPCMchannel = SPUplayADPCMchannel;
    plugin.SPUplayCDDAchannel = SPUplayCDDAchannel;
}
} // namespace fuzz
