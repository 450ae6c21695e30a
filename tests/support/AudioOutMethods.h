#pragma once

// Names for the instances of a test run once per audio-out method, the values of
// the "AudioOutMethod" setting: 0 the pacing thread, 1 the SIGALRM timer, 2 the
// host's own SPUasync calls.

#include <gtest/gtest.h>

#include <string>

inline std::string audioOutMethodName(const ::testing::TestParamInfo<int>& info)
{
    static const char* const names[] = {"Thread", "Timer", "SPUasync"};
    return info.param >= 0 && info.param < 3 ? names[info.param] : "Method" + std::to_string(info.param);
}
