// The e2e program is built from the files of this folder and the host's Plugin.cpp.
// The host classes that run without dlopen and without files (as the fuzz harness
// drives them) are compiled into it here, once, so that the tests beside this file
// can call them in-process. They form one unit: their file-local names must differ.
// Once the build gives these classes a library of their own, link that instead.

#include "spuhost/FrameWriter.cpp"
#include "spuhost/LogFile.cpp"
#include "spuhost/ProgressLine.cpp"
#include "spuhost/Replay.cpp"
#include "spuhost/WavReader.cpp"
