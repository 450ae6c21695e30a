#pragma once

#include <functional>
#include <string>

// Runs a check in a child process with a mount namespace of its own, in which
// "/dev/dsp" is a FIFO that only the child sees: the plugin's OSS device opens it
// there, while every other process on the machine keeps the /dev it had (with or
// without a sound device) and cannot write into the capture. A real device is
// never opened. The child's gtest failures are printed by the child and make it
// exit non-zero, which the parent reports.
//
// Returns true when the check ran; false with `whyNot` set when it could not
// (not root, or the kernel refuses a mount namespace), for the caller to skip.
bool runWithPrivateDsp(const std::function<void()>& check, std::string& whyNot);
