#include "spu/SPU.h"

#include <algorithm>
#include <cstring>

namespace
{
// Global registers, by the low 12 bits of their address. The per-voice registers
// come first, 16 bytes a voice, from the start of the window up to VoiceEnd.
enum Register : int
{
    WindowStart = 0xC00,
    MainVolumeL = 0xD80,
    MainVolumeR = 0xD82,
    ReverbVolumeL = 0xD84,
    ReverbVolumeR = 0xD86,
    KeyOnLo = 0xD88,
    KeyOnHi = 0xD8A,
    KeyOffLo = 0xD8C,
    KeyOffHi = 0xD8E,
    PitchModLo = 0xD90,
    PitchModHi = 0xD92,
    NoiseModeLo = 0xD94,
    NoiseModeHi = 0xD96,
    ReverbModeLo = 0xD98,
    ReverbModeHi = 0xD9A,
    EndFlagsLo = 0xD9C,
    EndFlagsHi = 0xD9E,
    Unused0xDA0 = 0xDA0, // stored only
    ReverbWorkStart = 0xDA2,
    IRQAddress = 0xDA4,
    TransferAddress = 0xDA6,
    TransferData = 0xDA8,
    Control = 0xDAA,
    TransferControl = 0xDAC, // stored only
    Status = 0xDAE,
    CDVolumeL = 0xDB0,
    CDVolumeR = 0xDB2,
    // Stored only: there is no external input, and the current main volume reads
    // back what was written, not the sweep's level.
    ExternalVolumeL = 0xDB4,
    ExternalVolumeR = 0xDB6,
    CurrentMainVolumeL = 0xDB8,
    CurrentMainVolumeR = 0xDBA,
    Unused0xDBC = 0xDBC, // stored only
    Unused0xDBE = 0xDBE, // stored only
    ReverbBlock = 0xDC0,
    VoiceEnd = 0xD80,
    WindowEnd = 0xE00,
};

// Per-voice registers, by their offset inside the voice's 16 bytes.
enum VoiceRegister : int
{
    VoiceVolumeL = 0x0,
    VoiceVolumeR = 0x2,
    VoicePitch = 0x4,
    VoiceStartAddress = 0x6,
    VoiceADSR1 = 0x8,
    VoiceADSR2 = 0xA,
    VoiceADSRVolume = 0xC,
    VoiceRepeatAddress = 0xE,
};

// The window is 0x1F801C00..0x1F801DFF. The top three bits (the CPU's segment
// mirrors) are ignored; any other address lies outside the window and reaches
// nothing. Returns the register's low 12 bits with bit 0 cleared, or -1.
int decodeAddress(unsigned long address)
{
    if ((address & 0x1FFFFE00UL) != 0x1F801C00UL)
        return -1;
    return static_cast<int>(address & 0xFFE);
}

int imageIndex(int reg)
{
    return (reg - WindowStart) >> 1;
}

int voiceOf(int reg)
{
    return (reg - WindowStart) >> 4;
}

int voiceRegisterOf(int reg)
{
    return reg & 0xF;
}

// The registers with a bit per voice come in pairs: the low register's bits 0-15
// are voices 0-15, the high one's (address bit 1 set) bits 0-7 voices 16-23.
struct VoiceBits
{
    int first;
    int count;
};

VoiceBits voiceBitsOf(int reg)
{
    return (reg & 2) != 0 ? VoiceBits{16, 8} : VoiceBits{0, 16};
}

// Sound RAM by byte address, which wraps at its end; transfers move a word at a time.
int transferWord(int byteAddress)
{
    return (byteAddress & 0x7FFFE) >> 1;
}

int nextTransferAddress(int byteAddress)
{
    return (byteAddress + 2) & 0x7FFFF;
}

// The CPU address of a register, by its low 12 bits.
unsigned long addressOf(int reg)
{
    return 0x1F801000UL + static_cast<unsigned long>(reg);
}

// Transfer-mode field of the control word (bits 4-5).
int transferMode(unsigned short control)
{
    return (control >> 4) & 3;
}

// The control word with transfer mode 0 (stop), as a finished DMA leaves it.
unsigned short withoutTransferMode(unsigned short control)
{
    return static_cast<unsigned short>(control & 0xFFCF);
}
} // namespace

SPU::SPU()
    : control(0), status(0), irqAddress(0), transferAddress(0), enable(0), mute(0), irqEnable(0), irqFlag(0),
      transferIRQCount(0), tickCount(0), xferBufferCount(0), restoring(false)
{
    std::memset(soundBuffer, 0, sizeof(soundBuffer));
    std::memset(spuRegister, 0, sizeof(spuRegister));
    std::memset(xferBuffer, 0, sizeof(xferBuffer));
    mixer.setReverb(spuRegister + imageIndex(ReverbBlock));
    VagBlock::setSoundBuffer(soundBuffer, &mixer.getReverb());
    mixer.setSoundBuffer(soundBuffer);
    for (int v = 1; v < VoiceCount; ++v)
        voices[v].setPrevVoice(&voices[v - 1]);
}

SPU::~SPU() {}

void SPU::init()
{
    restoring = true;
    for (int reg = WindowStart; reg < WindowEnd; reg += 2)
        writeRegisterDispatch(addressOf(reg), 0);
    restoring = false;

    std::memset(soundBuffer, 0, sizeof(soundBuffer));
    VagBlock::flushAllCache();
    irqAddress = 0;
    transferAddress = 0;
    xferBufferCount = 0;
    tickCount = 0;
    // The replay above writes the IRQ and transfer address registers, which would
    // count transfer hits against the old IRQ enable; a reset raises no interrupt.
    transferIRQCount = 0;
    Voice::resetSpuIRQCount();

    for (Voice& voice : voices)
        voice.init();
    stream.init();
}

void SPU::writeRegister(unsigned long address, unsigned short value)
{
    writeRegisterDispatch(address, value);
}

void SPU::restoreRegister(unsigned long address, unsigned short value)
{
    restoring = true;
    writeRegisterDispatch(address, value);
    restoring = false;
}

void SPU::writeRegisterDispatch(unsigned long address, unsigned short value)
{
    const int reg = decodeAddress(address);
    if (reg < 0)
        return;
    const bool odd = (address & 1) != 0;

    if (reg < VoiceEnd)
    {
        // An odd address only writes the image of the even register below it.
        if (!odd)
            writeVoiceRegister(voiceOf(reg), voiceRegisterOf(reg), value);
        spuRegister[imageIndex(reg)] = value;
        return;
    }

    switch (reg)
    {
    case MainVolumeL:
        mixer.setMainVolumeL(value);
        break;
    case MainVolumeR:
        mixer.setMainVolumeR(value);
        break;
    case ReverbVolumeL:
        mixer.setReverbVolumeL(value);
        break;
    case ReverbVolumeR:
        mixer.setReverbVolumeR(value);
        break;
    case KeyOnLo:
    case KeyOnHi:
        setVoiceBits(reg, value, &Voice::setKeyOn); // a 0 bit leaves its voice alone
        break;
    case KeyOffLo:
    case KeyOffHi:
        setVoiceBits(reg, value, &Voice::setKeyOff); // a 0 bit leaves its voice alone
        break;
    case PitchModLo:
    case PitchModHi:
        setVoiceBits(reg, value, &Voice::setFMMode);
        break;
    case NoiseModeLo:
    case NoiseModeHi:
        setVoiceBits(reg, value, &Voice::setNoiseMode);
        break;
    case ReverbModeLo:
    case ReverbModeHi:
        setVoiceBits(reg, value, &Voice::setReverbMode);
        break;
    case EndFlagsLo:
    case EndFlagsHi:
        setVoiceBits(reg, value, &Voice::setChannelActive);
        break;
    case ReverbWorkStart:
        mixer.setReverbWorkAddr(value);
        break;
    case IRQAddress:
        Voice::setSpuIRQAddress(value);
        irqAddress = value;
        SPUIRQ();
        break;
    case TransferAddress:
        transferAddress = value * 8;
        SPUIRQ();
        break;
    case TransferData:
        if (xferBufferCount < XferBufferSize && !restoring)
            xferBuffer[xferBufferCount++] = static_cast<short>(value);
        break;
    case Control:
        writeControl(value);
        break;
    case Status:
        status = value & 0xF800;
        break;
    case CDVolumeL:
        stream.setXAVolumeL(value);
        break;
    case CDVolumeR:
        stream.setXAVolumeR(value);
        break;
    // Stored only: the image below is all there is of them.
    case Unused0xDA0:
    case TransferControl:
    case ExternalVolumeL:
    case ExternalVolumeR:
    case CurrentMainVolumeL:
    case CurrentMainVolumeR:
    case Unused0xDBC:
    case Unused0xDBE:
        break;
    default: // the reverb block, which the reverb reads from the image below
        break;
    }

    spuRegister[imageIndex(reg)] = value;
    if (reg >= ReverbBlock)
        mixer.setReverb(spuRegister + imageIndex(ReverbBlock));
}

// Each voice of a per-voice bit register gets its bit, in ascending voice order.
void SPU::setVoiceBits(int reg, unsigned short value, void (Voice::*set)(int))
{
    const VoiceBits bits = voiceBitsOf(reg);
    for (int i = 0; i < bits.count; ++i)
    {
        Voice& voice = voices[bits.first + i];
        (voice.*set)((value >> i) & 1);
    }
}

void SPU::writeVoiceRegister(int voice, int reg, unsigned short value)
{
    Voice& v = voices[voice];
    switch (reg)
    {
    case VoiceVolumeL:
        v.setVolumeL(value);
        break;
    case VoiceVolumeR:
        v.setVolumeR(value);
        break;
    case VoicePitch:
        v.setPitch(value);
        break;
    case VoiceStartAddress:
        v.setStartAddress(value);
        break;
    case VoiceADSR1:
        v.setADSR1(value);
        break;
    case VoiceADSR2:
        v.setADSR2(value);
        break;
    case VoiceADSRVolume:
        v.setCurrentADSRVolume(value);
        break;
    case VoiceRepeatAddress:
        v.setRepeatAddress(value);
        break;
    }
}

// Control word: enable (15), mute (14), noise clock (8-13), reverb master enable (7),
// IRQ enable (6), transfer mode (4-5), CD reverb enable (2). Enable, mute and bits
// 0, 1 and 3 are stored only: kept and read back (bits 0-3 in the status word),
// with no effect on sound.
void SPU::writeControl(unsigned short value)
{
    control = value;
    enable = (value >> 15) & 1;
    mute = (value >> 14) & 1;
    Voice::setControlNoiseFreq((value >> 8) & 0x3F);
    mixer.setControlReverbEnabled((value >> 7) & 1);
    irqEnable = (value >> 6) & 1;
    if (irqEnable == 0)
        irqFlag = 0; // the CPU acknowledges the interrupt
    else
        SPUIRQ();
    stream.setControlCDReverbEnabled((value >> 2) & 1);
    if (transferMode(value) == 1 && !restoring)
        flushXferBuffer();
}

unsigned short SPU::readRegister(unsigned long address)
{
    const int reg = decodeAddress(address);
    if (reg < 0)
        return 0;

    if (reg < VoiceEnd)
    {
        Voice& v = voices[voiceOf(reg)];
        switch (voiceRegisterOf(reg))
        {
        case VoiceADSRVolume:
            return static_cast<unsigned short>(v.getCurrentADSRVolume());
        case VoiceRepeatAddress:
            return static_cast<unsigned short>(v.getRepeatAddress());
        default:
            return spuRegister[imageIndex(reg)];
        }
    }

    switch (reg)
    {
    case EndFlagsLo:
    case EndFlagsHi:
    {
        const VoiceBits bits = voiceBitsOf(reg);
        unsigned short flags = 0;
        for (int i = 0; i < bits.count; ++i)
            if (voices[bits.first + i].getChannelActive())
                flags |= static_cast<unsigned short>(1 << i);
        return flags;
    }
    case Control:
        return control;
    case Status:
        return readStatus();
    default:
        return spuRegister[imageIndex(reg)];
    }
}

// Status: the stored bits 11-15 (stored only: nothing else reads them), a value by
// transfer mode, the control word's bits 0-3 (CD audio and external input enables),
// and the IRQ flag as bit 6. With the mode's bits 4-5, status bits 0-5 mirror
// control bits 0-5 as on the console: sound drivers wait after every control
// write, without a time limit, until (status & 0x3F) == (control & 0x3F).
unsigned short SPU::readStatus() const
{
    static const unsigned short modeBits[4] = {0x0000, 0x0010, 0x02A0, 0x01B0};
    unsigned short value = static_cast<unsigned short>((status & 0xF800) + modeBits[transferMode(control)]);
    value |= control & 0x000F;
    if (irqFlag)
        value |= 0x0040;
    return value;
}

void SPU::writeDMA(unsigned short value)
{
    soundBuffer[transferWord(transferAddress)] = value;
    VagBlock::flushCache(transferAddress);
    transferAddress = nextTransferAddress(transferAddress);
    SPUIRQ();
}

unsigned short SPU::readDMA()
{
    const unsigned short value = soundBuffer[transferWord(transferAddress)];
    transferAddress = nextTransferAddress(transferAddress);
    SPUIRQ();
    return value;
}

void SPU::writeDMAMemory(const unsigned short* source, int count)
{
    if (source == nullptr && count > 0)
        return;
    for (int i = 0; i < count; ++i)
        writeDMA(source[i]);
    control = withoutTransferMode(control);
}

void SPU::readDMAMemory(unsigned short* destination, int count)
{
    if (destination == nullptr && count > 0)
        return;
    for (int i = 0; i < count; ++i)
        destination[i] = readDMA();
    control = withoutTransferMode(control);
}

void SPU::flushXferBuffer()
{
    for (int i = 0; i < xferBufferCount; ++i)
        writeDMA(static_cast<unsigned short>(xferBuffer[i]));
    xferBufferCount = 0;
}

bool SPU::ChkXferAlignment() const
{
    return xferBufferCount == 0 && (transferAddress & 7) == 0;
}

void SPU::XferAlignmentHack()
{
    restoreRegister(addressOf(TransferAddress), static_cast<unsigned short>((transferAddress / 8) & 0xFFFF));
    restoreRegister(addressOf(Control), withoutTransferMode(control));
}

void SPU::SPUIRQ()
{
    if (irqFlag)
        return;
    if (irqAddress * 8 == transferAddress)
        transferIRQCount += irqEnable;
}

int SPU::getSpuIRQCount()
{
    int total = transferIRQCount;
    if (!irqFlag && irqEnable)
        total += Voice::getSpuIRQCount();
    if (total != 0)
        irqFlag = 1;
    Voice::resetSpuIRQCount();
    transferIRQCount = 0;
    return total;
}

void SPU::playSound(short& left, short& right)
{
    Voice::UpdateNoise();
    for (Voice& voice : voices)
        voice.playSound(&mixer);
    stream.playSound(&mixer, soundBuffer);
    mixer.getMixSound(left, right);
    ++tickCount;
}

bool SPU::captureUnchanging() const
{
    if (!stream.capturesSilence())
        return false;
    unsigned short any = 0;
    for (int w = 0; w < StreamSound::CaptureWords; ++w)
        any |= soundBuffer[w];
    return any == 0;
}

int SPU::unobservedFrames(int frames) const
{
    // A transfer's interrupt is collected after the first frame.
    if (transferIRQCount != 0)
        return 1;
    Voice::Watch watch;
    watch.irqAddress = (irqEnable && !irqFlag) ? irqAddress : -1;
    watch.forceFlag7 = Voice::ConfigSPUIRQForceInterruptFlag7 != 0;
    watch.capturedWords = captureUnchanging() ? 0 : StreamSound::CaptureWords;
    watch.reverbWord = mixer.reverbWritesSoundRam() ? mixer.getReverb().getStartAddress() : SoundBufferWords;
    for (const Voice& voice : voices)
        frames = voice.framesUnobserved(frames, watch);
    return frames;
}

// Each voice plays the whole block before the next one starts, which reads sound
// RAM and steps the voice exactly as the frame order does while nothing couples the
// frames: register writes only come between calls, the noise generator is stepped
// for the block first, a voice's pitch modulator (the voice before it) has played
// the block already, and the block ends where a voice could hit the armed
// interrupt or read what the CD capture or the reverb writes meanwhile (a capture
// of silence over silent capture areas writes nothing new). The decode
// cache shares entries between voices as they are first met, so it keeps the
// frame order.
int SPU::playBlock(short* out, int frames, int& raised)
{
    if (VagBlock::ConfigCacheVagDecode != 0)
    {
        playSound(out[0], out[1]);
        raised += getSpuIRQCount();
        return 1;
    }
    const int n = unobservedFrames(std::min(frames, static_cast<int>(MixBlock::MaxFrames)));

    Voice::UpdateNoise(n, block.noise);
    std::memset(block.dryL, 0, sizeof(int) * n);
    std::memset(block.dryR, 0, sizeof(int) * n);
    std::memset(block.sendL, 0, sizeof(int) * n);
    std::memset(block.sendR, 0, sizeof(int) * n);
    for (int v = 0; v < VoiceCount; ++v)
    {
        const bool modulates = v + 1 < VoiceCount && voices[v + 1].getFMMode() != 0;
        voices[v].playBlock(n, block.noise, voiceOutputs[(v + 1) & 1], voiceOutputs[v & 1], modulates, block,
                            voiceScratch);
    }

    stream.playBlock(n, block, soundBuffer);
    mixer.mixBlock(n, block, out);
    tickCount += static_cast<unsigned int>(n);
    raised += getSpuIRQCount();
    return n;
}
