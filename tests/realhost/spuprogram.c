/* A PlayStation program that drives the sound processor as a game's sound driver
 * does, for the real-host test. It runs on the emulator's HLE BIOS and prints its
 * progress and its checks through the BIOS's putchar:
 *   "CHECK name PASS" or "CHECK name FAIL detail"
 *   "NOTE i ON t" / "NOTE i OFF t"   (t: milliseconds on root counter 2)
 *   "DONE" when the last reverb tail has had its time.
 * What it plays, one voice after the other (pitches in 1/4096 of 44100 Hz over a
 * sine of 28 samples a period):
 *   voice 0, pitch 0x0400 (393.75 Hz), sample uploaded by the data FIFO
 *   voice 1, pitch 0x0600 (590.63 Hz), same sample
 *   voice 2, pitch 0x0800 (787.50 Hz), sample uploaded by DMA
 *   voice 3, pitch 0x0B00 (1082.81 Hz), DMA sample, into the reverb
 * each NoteMs long with NoteGapMs of silence between, then TailMs for the reverb.
 * Every wait is bounded, in counter time and in loop iterations, and prints a
 * failure instead of hanging. */

#define NoteMs 400
#define NoteGapMs 200
#define TailMs 1200

typedef unsigned int u32;
typedef unsigned short u16;
typedef unsigned char u8;

void bios_putchar(int c);

/* gcc may emit calls to these for copies and clears even when freestanding. */
void* memcpy(void* d, const void* s, unsigned n)
{
    u8* dd = (u8*)d;
    const u8* ss = (const u8*)s;
    while (n--)
        *dd++ = *ss++;
    return d;
}

void* memset(void* d, int c, unsigned n)
{
    u8* dd = (u8*)d;
    while (n--)
        *dd++ = (u8)c;
    return d;
}

#define REG16(a) (*(volatile u16*)(a))
#define REG32(a) (*(volatile u32*)(a))

/* Sound processor */
#define SPU_VOICE(v, r) REG16(0x1F801C00 + (v) * 16 + (r))
#define VOICE_VOL_L 0x0
#define VOICE_VOL_R 0x2
#define VOICE_PITCH 0x4
#define VOICE_START 0x6
#define VOICE_ADSR1 0x8
#define VOICE_ADSR2 0xA
#define SPU_MAIN_VOL_L REG16(0x1F801D80)
#define SPU_MAIN_VOL_R REG16(0x1F801D82)
#define SPU_REVERB_VOL_L REG16(0x1F801D84)
#define SPU_REVERB_VOL_R REG16(0x1F801D86)
#define SPU_KEY_ON_LO REG16(0x1F801D88)
#define SPU_KEY_ON_HI REG16(0x1F801D8A)
#define SPU_KEY_OFF_LO REG16(0x1F801D8C)
#define SPU_KEY_OFF_HI REG16(0x1F801D8E)
#define SPU_PITCH_MOD_LO REG16(0x1F801D90)
#define SPU_PITCH_MOD_HI REG16(0x1F801D92)
#define SPU_NOISE_LO REG16(0x1F801D94)
#define SPU_NOISE_HI REG16(0x1F801D96)
#define SPU_REVERB_ON_LO REG16(0x1F801D98)
#define SPU_REVERB_ON_HI REG16(0x1F801D9A)
#define SPU_REVERB_BASE REG16(0x1F801DA2)
#define SPU_IRQ_ADDR REG16(0x1F801DA4)
#define SPU_XFER_ADDR REG16(0x1F801DA6)
#define SPU_XFER_FIFO REG16(0x1F801DA8)
#define SPU_CONTROL REG16(0x1F801DAA)
#define SPU_XFER_CTRL REG16(0x1F801DAC)
#define SPU_STATUS REG16(0x1F801DAE)
#define SPU_CD_VOL_L REG16(0x1F801DB0)
#define SPU_CD_VOL_R REG16(0x1F801DB2)
#define SPU_EXT_VOL_L REG16(0x1F801DB4)
#define SPU_EXT_VOL_R REG16(0x1F801DB6)
#define SPU_REVERB_REG(i) REG16(0x1F801DC0 + 2 * (i))

/* Control word: enable, unmute, CD audio on (as drivers leave it), plus these. */
#define CONTROL_BASE 0xC001
#define CONTROL_REVERB 0x0080
#define CONTROL_IRQ 0x0040
#define CONTROL_MANUAL_WRITE 0x0010
#define CONTROL_DMA_WRITE 0x0020
#define CONTROL_DMA_READ 0x0030
#define STATUS_IRQ 0x0040

/* DMA channel 4 (SPU) and the interrupt controller */
#define DMA4_MADR REG32(0x1F8010C0)
#define DMA4_BCR REG32(0x1F8010C4)
#define DMA4_CHCR REG32(0x1F8010C8)
#define DMA_DPCR REG32(0x1F8010F0)
#define DMA_CHCR_BUSY 0x01000000
#define I_STAT REG32(0x1F801070)
#define I_MASK REG32(0x1F801074)
#define I_STAT_SPU 0x200

/* Root counter 2 at the system clock / 8: 4233.6 ticks a millisecond. */
#define RCNT2_VALUE REG32(0x1F801120)
#define RCNT2_MODE REG32(0x1F801124)
#define TicksPerMs 4234u
/* A bound on every wait that does not depend on the counter running. */
#define MaxSpins 20000000u

/* Sound RAM layout (byte addresses) */
#define FifoSampleAddr 0x01000
#define DmaSampleAddr 0x02000
#define IdleIrqAddr 0x10000
#define ReverbWorkAddr 0x7D940 /* 0x26C0 bytes below the top, for the "Room" set */

#define SampleBlocks 8
#define SampleHalfwords (SampleBlocks * 8)

/* ---- output ---- */

static void putstr(const char* s)
{
    while (*s)
        bios_putchar(*s++);
}

static void putdec(u32 v)
{
    char digits[12];
    int n = 0;
    do
    {
        digits[n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0)
        bios_putchar(digits[--n]);
}

static void puthex(u32 v)
{
    int shift;
    putstr("0x");
    for (shift = 12; shift >= 0; shift -= 4)
        bios_putchar("0123456789ABCDEF"[(v >> shift) & 15]);
}

static int failures;

static void check(const char* name, int ok, const char* detail, u32 a, u32 b)
{
    putstr("CHECK ");
    putstr(name);
    if (ok)
        putstr(" PASS\n");
    else
    {
        ++failures;
        putstr(" FAIL ");
        putstr(detail);
        putstr(" ");
        puthex(a);
        putstr(" ");
        puthex(b);
        putstr("\n");
    }
}

/* ---- time ---- */

static u32 clockTicks;
static u32 clockLast;

/* Counter ticks since start; the 16-bit counter is folded in on every call, so
 * callers poll it more often than its 15 ms wrap. */
static u32 nowTicks(void)
{
    const u32 v = RCNT2_VALUE & 0xFFFF;
    clockTicks += (v - clockLast) & 0xFFFF;
    clockLast = v;
    return clockTicks;
}

static u32 nowMs(void)
{
    return nowTicks() / TicksPerMs;
}

static void waitSince(u32 start, u32 ms)
{
    u32 spins = 0;
    while (nowTicks() - start < ms * TicksPerMs && ++spins < MaxSpins)
        ;
}

static void waitMs(u32 ms)
{
    waitSince(nowTicks(), ms);
}

/* ---- control and status ---- */

static int statusMismatches;
static u32 firstBadControl;
static u32 firstBadStatus;

/* As drivers do: after a control write, wait until the status shows its low six
 * bits, within 10 ms. */
static void writeControl(u16 value)
{
    const u32 start = nowTicks();
    u32 spins = 0;
    SPU_CONTROL = value;
    while ((SPU_STATUS & 0x3F) != (value & 0x3F))
    {
        if (nowTicks() - start > 10 * TicksPerMs || ++spins > MaxSpins / 100)
        {
            if (statusMismatches++ == 0)
            {
                firstBadControl = value;
                firstBadStatus = SPU_STATUS;
            }
            return;
        }
    }
}

/* ---- transfers ---- */

static u16 sample[SampleHalfwords] __attribute__((aligned(4)));
static u16 readBack[SampleHalfwords] __attribute__((aligned(4)));
static int dmaTimeouts;

/* Eight blocks of one sine period each (28 samples, filter 0, shift 1); the first
 * block carries the loop start, the last loops back to it. */
static void buildSample(void)
{
    static const signed char quarter[8] = {0, 2, 3, 4, 5, 6, 7, 7};
    signed char wave[28];
    int i, b;
    for (i = 0; i < 28; ++i)
    {
        int k = i % 14;
        int v = k <= 7 ? quarter[k] : quarter[14 - k];
        wave[i] = (signed char)(i < 14 ? v : -v);
    }
    for (b = 0; b < SampleBlocks; ++b)
    {
        const u16 flags = b == 0 ? 0x04 : b == SampleBlocks - 1 ? 0x03 : 0x00;
        sample[b * 8] = (u16)(0x01 | (flags << 8));
        for (i = 0; i < 7; ++i)
        {
            u16 word = 0;
            int j;
            for (j = 0; j < 4; ++j)
                word |= (u16)((wave[i * 4 + j] & 15) << (4 * j));
            sample[b * 8 + 1 + i] = word;
        }
    }
}

/* The data FIFO holds 32 halfwords; each batch is started by the manual-write mode. */
static void uploadByFifo(u32 address, const u16* data, int count)
{
    int done = 0;
    writeControl(CONTROL_BASE);
    SPU_XFER_CTRL = 0x0004;
    SPU_XFER_ADDR = (u16)(address / 8);
    while (done < count)
    {
        int i;
        for (i = 0; i < 32 && done < count; ++i)
            SPU_XFER_FIFO = data[done++];
        writeControl(CONTROL_BASE | CONTROL_MANUAL_WRITE);
        writeControl(CONTROL_BASE);
    }
}

static void runDma(u32 mode, u32 address, u16* data, int count, u32 chcr)
{
    const u32 start = nowTicks();
    u32 spins = 0;
    writeControl(CONTROL_BASE);
    SPU_XFER_CTRL = 0x0004;
    SPU_XFER_ADDR = (u16)(address / 8);
    writeControl((u16)(CONTROL_BASE | mode));
    DMA_DPCR |= 0x000B0000; /* channel 4 on, priority 3 */
    DMA4_MADR = (u32)data & 0x00FFFFFF;
    DMA4_BCR = ((u32)(count / 32) << 16) | 16; /* blocks of 16 words */
    DMA4_CHCR = chcr;
    while (DMA4_CHCR & DMA_CHCR_BUSY)
        if (nowTicks() - start > 100 * TicksPerMs || ++spins > MaxSpins)
        {
            ++dmaTimeouts;
            break;
        }
    writeControl(CONTROL_BASE);
}

static void uploadByDma(u32 address, u16* data, int count)
{
    runDma(CONTROL_DMA_WRITE, address, data, count, 0x01000201);
}

static void readByDma(u32 address, u16* data, int count)
{
    runDma(CONTROL_DMA_READ, address, data, count, 0x01000200);
}

static int firstDifference(const u16* a, const u16* b, int count)
{
    int i;
    for (i = 0; i < count; ++i)
        if (a[i] != b[i])
            return i;
    return -1;
}

/* ---- reverb: the "Room" set of the 32 reverb registers ---- */

static const u16 roomReverb[32] = {
    0x007D, 0x005B, 0x6D80, 0x54B8, 0xBED0, 0x0000, 0x0000, 0xBA80,
    0x5800, 0x5300, 0x04D6, 0x0333, 0x03F0, 0x0227, 0x0374, 0x01EF,
    0x0334, 0x01B5, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    0x0000, 0x0000, 0x01B4, 0x0136, 0x00B8, 0x005C, 0x8000, 0x8000,
};

/* ---- voices ---- */

static void setUpVoice(int v, u16 pitch, u32 sampleAddress)
{
    SPU_VOICE(v, VOICE_VOL_L) = 0x3FFF;
    SPU_VOICE(v, VOICE_VOL_R) = 0x3FFF;
    SPU_VOICE(v, VOICE_PITCH) = pitch;
    SPU_VOICE(v, VOICE_START) = (u16)(sampleAddress / 8);
    /* linear attack rate 0x20 (about 13 ms), fastest decay, sustain level full */
    SPU_VOICE(v, VOICE_ADSR1) = 0x200F;
    /* sustain held, linear release rate 0x0A (about 46 ms) */
    SPU_VOICE(v, VOICE_ADSR2) = 0x1FCA;
}

/* Waits, bounded, for the SPU interrupt of voice 0 reaching the fifth block of its
 * sample, then acknowledges it at both ends. */
static void interruptCheck(void)
{
    const u32 start = nowTicks();
    u32 spins = 0;
    int sawStat = 0;
    int sawStatus = 0;
    while (!(sawStat && sawStatus))
    {
        if (I_STAT & I_STAT_SPU)
            sawStat = 1;
        if (SPU_STATUS & STATUS_IRQ)
            sawStatus = 1;
        if (nowTicks() - start > 300 * TicksPerMs || ++spins > MaxSpins)
            break;
    }
    check("irq-istat", sawStat, "I_STAT", I_STAT, 0);
    check("irq-status", sawStatus, "SPUSTAT", SPU_STATUS, 0);
    I_STAT = ~(u32)I_STAT_SPU;
    SPU_IRQ_ADDR = (u16)(IdleIrqAddr / 8);
    writeControl(CONTROL_BASE | CONTROL_REVERB);
    check("irq-ack", (SPU_STATUS & STATUS_IRQ) == 0 && (I_STAT & I_STAT_SPU) == 0, "status/I_STAT", SPU_STATUS,
          I_STAT);
}

/* A note of NoteMs; the interrupt check runs inside the first one. */
static void note(int index, int v)
{
    const u32 start = nowTicks();
    SPU_KEY_ON_LO = (u16)(1 << v);
    putstr("NOTE ");
    putdec((u32)index);
    putstr(" ON ");
    putdec(start / TicksPerMs);
    putstr("\n");
    if (index == 0)
        interruptCheck();
    waitSince(start, NoteMs);
    SPU_KEY_OFF_LO = (u16)(1 << v);
    putstr("NOTE ");
    putdec((u32)index);
    putstr(" OFF ");
    putdec(nowMs());
    putstr("\n");
}

int main(void)
{
    int i, diff;
    RCNT2_MODE = 0x0200;
    nowTicks();
    putstr("START\n");

    /* Off, then on with everything silent while it is set up. */
    writeControl(0);
    writeControl(CONTROL_BASE);
    SPU_MAIN_VOL_L = 0;
    SPU_MAIN_VOL_R = 0;
    SPU_KEY_OFF_LO = 0xFFFF;
    SPU_KEY_OFF_HI = 0x00FF;
    SPU_PITCH_MOD_LO = 0;
    SPU_PITCH_MOD_HI = 0;
    SPU_NOISE_LO = 0;
    SPU_NOISE_HI = 0;
    SPU_REVERB_ON_LO = 0;
    SPU_REVERB_ON_HI = 0;
    SPU_CD_VOL_L = 0;
    SPU_CD_VOL_R = 0;
    SPU_EXT_VOL_L = 0;
    SPU_EXT_VOL_R = 0;
    I_MASK &= ~(u32)I_STAT_SPU;
    I_STAT = ~(u32)I_STAT_SPU;

    buildSample();
    uploadByFifo(FifoSampleAddr, sample, SampleHalfwords);
    uploadByDma(DmaSampleAddr, sample, SampleHalfwords);
    readByDma(FifoSampleAddr, readBack, SampleHalfwords);
    diff = firstDifference(sample, readBack, SampleHalfwords);
    check("readback-fifo", diff < 0, "halfword", (u32)diff, diff < 0 ? 0 : readBack[diff]);
    for (i = 0; i < SampleHalfwords; ++i)
        readBack[i] = 0;
    readByDma(DmaSampleAddr, readBack, SampleHalfwords);
    diff = firstDifference(sample, readBack, SampleHalfwords);
    check("readback-dma", diff < 0, "halfword", (u32)diff, diff < 0 ? 0 : readBack[diff]);
    check("dma-complete", dmaTimeouts == 0, "timeouts", (u32)dmaTimeouts, DMA4_CHCR);

    /* Reverb: work area, the register set, output volume, master enable. */
    SPU_REVERB_VOL_L = 0;
    SPU_REVERB_VOL_R = 0;
    SPU_REVERB_BASE = (u16)(ReverbWorkAddr / 8);
    for (i = 0; i < 32; ++i)
        SPU_REVERB_REG(i) = roomReverb[i];
    SPU_REVERB_VOL_L = 0x3000;
    SPU_REVERB_VOL_R = 0x3000;

    setUpVoice(0, 0x0400, FifoSampleAddr);
    setUpVoice(1, 0x0600, FifoSampleAddr);
    setUpVoice(2, 0x0800, DmaSampleAddr);
    setUpVoice(3, 0x0B00, DmaSampleAddr);
    SPU_REVERB_ON_LO = 1 << 3;
    SPU_MAIN_VOL_L = 0x3FFF;
    SPU_MAIN_VOL_R = 0x3FFF;

    /* The interrupt at the fifth block of voice 0's sample, armed before its note. */
    SPU_IRQ_ADDR = (u16)((FifoSampleAddr + 5 * 16) / 8);
    writeControl(CONTROL_BASE | CONTROL_REVERB | CONTROL_IRQ);
    waitMs(100);

    note(0, 0);
    waitMs(NoteGapMs);
    note(1, 1);
    waitMs(NoteGapMs);
    note(2, 2);
    waitMs(NoteGapMs);
    note(3, 3);
    waitMs(TailMs);

    check("status-mirror", statusMismatches == 0, "control/status", firstBadControl, firstBadStatus);
    putstr(failures == 0 ? "RESULT PASS\n" : "RESULT FAIL\n");
    putstr("DONE\n");
    for (;;)
        waitMs(1000);
    return 0;
}
