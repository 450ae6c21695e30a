#pragma once

// The PSEmu Pro entry points of the plugin, for the code that calls them in the
// same process (tests, fuzz targets, benchmarks). A host sees them through dlopen.
// The records are only named here, so that a host's own declaration of them (the
// same layout under the same names) can be included beside this.
struct SPUFreeze_t;
struct xa_decode_t;

extern "C" {
const char* PSEgetLibName();
unsigned long PSEgetLibType();
unsigned long PSEgetLibVersion();
void* getHinstance();
long SPUinit();
long SPUopen(...);
long SPUclose();
long SPUshutdown();
long SPUtest();
long SPUconfigure();
long SPUabout();
void SPUwriteRegister(unsigned long address, unsigned short value);
unsigned short SPUreadRegister(unsigned long address);
void SPUwriteDMA(unsigned short value);
unsigned short SPUreadDMA();
void SPUwriteDMAMem(unsigned short* source, int count);
void SPUreadDMAMem(unsigned short* destination, int count);
void SPUplayADPCMchannel(xa_decode_t* xa);
void SPUplayCDDAchannel(short* data, int length);
void SPUregisterCallback(void (*callback)(void));
void SPUregisterCDDAVolume(void (*callback)(unsigned short, unsigned short));
void SPUasync(unsigned long cycles);
void SPUupdate();
void SPUrender(short* buffer, unsigned long length);
long SPUfreeze(unsigned long mode, SPUFreeze_t* record);
unsigned short SPUgetOne(unsigned long);
void SPUputOne(unsigned long, unsigned short);
void SPUsetAddr(int, unsigned short);
void SPUsetPitch(int, unsigned short);
void SPUsetVolumeL(int, short);
void SPUsetVolumeR(int, short);
void SPUstartChannels1(unsigned short);
void SPUstartChannels2(unsigned short);
void SPUstopChannels1(unsigned short);
void SPUstopChannels2(unsigned short);
void SPUplaySample(unsigned char);
void SPUplaySector(unsigned long, unsigned char*);
}
