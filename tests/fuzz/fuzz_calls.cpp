// Host call sequences through the exports: register traffic in and around the
// window and its mirrors, DMA both ways, hostile XA records and CD-DA chunks,
// rendering and SPUasync with any count, save-state saves, size queries and loads
// of patched records, callbacks, settings changed while running and the recorder
// (the format: CallSequence.h).

#include "fuzz/CallSequence.h"
#include "fuzz/PluginHost.h"
#include "fuzz/Watchdog.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::startPlugin();
    fuzz::silencePluginOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::watched([data, size] { fuzz::runCallSequence(data, size); });
    return 0;
}
