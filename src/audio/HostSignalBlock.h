#pragma once

#include <csignal>

// Keeps the host's own control signals (Ctrl-C and its kin: SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2) blocked in the calling thread for its
// lifetime. The plugin creates its threads (pacing, OSS writer, real-time window,
// SDL's audio thread) inside one, so they inherit the mask: a process-directed
// signal is then never handled on a plugin thread. Hosts answer Ctrl-C with a
// handler that closes and unloads the plugins; run on a plugin thread it would
// join that very thread, free the ring it is using, and return into unloaded
// code, while the emulation thread goes on running closed plugins.
class HostSignalBlock
{
public:
    HostSignalBlock();
    ~HostSignalBlock();
    HostSignalBlock(const HostSignalBlock&) = delete;
    HostSignalBlock& operator=(const HostSignalBlock&) = delete;

    // Adds the host's control signals to `set`.
    static void addHostSignals(sigset_t* set);
    // Removes from `set` the host's control signals that `blocked` holds.
    static void removeHostSignalsIn(sigset_t* set, const sigset_t* blocked);

private:
    sigset_t previous;
};
