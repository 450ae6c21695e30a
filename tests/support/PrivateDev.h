#pragma once

#include <string>

// Moves the calling process (while it has one thread) into a mount namespace of its
// own and rebuilds /dev there on a tmpfs, with every entry of the machine's /dev
// bound back except "dsp": the caller then puts its own stand-in at "/dev/dsp",
// which no other process on the machine sees, and a real device is never opened.
// The machine's /dev stays reachable under `staging` (an empty folder), visible
// only in the new namespace. Needs root. False, with a message on stderr, when a
// step is refused.
bool enterPrivateDev(const std::string& staging);
