#!/usr/bin/env python3
"""Builds the project's demo tune: demo/instruments.adpcm and demo/demo.script.

The instruments are synthesised here as 16-bit WAV files, encoded with
`spuhost encode` (the project's ADPCM encoder) and packed into one file that the
script loads into sound RAM with `dmafile`. The piece is a register script in the
spuhost format: register writes with `render N` between them.

Usage: tools/demo/make_demo.py BUILD/spuhost [OUTDIR]   (OUTDIR defaults to demo/)
"""
import math
import os
import random
import struct
import subprocess
import sys
import tempfile
import wave

RATE = 44100
BLOCK = 28

# ---------------------------------------------------------------- instruments


def looped_cycles(cycle_len, cycles, fn, amp):
    """`cycles` periods of fn(phase 0..1), each `cycle_len` samples: loops cleanly."""
    return [int(amp * fn((i % cycle_len) / cycle_len)) for i in range(cycle_len * cycles)]


def saw_soft(p):
    # band-limited-ish sawtooth: first 12 harmonics
    return sum(math.sin(2 * math.pi * k * p) / k for k in range(1, 13)) * 0.55


def organ(p):
    return (math.sin(2 * math.pi * p) + 0.5 * math.sin(4 * math.pi * p) + 0.25 * math.sin(6 * math.pi * p)
            + 0.12 * math.sin(8 * math.pi * p)) / 1.4


def sine(p):
    return math.sin(2 * math.pi * p)


def bell(freq, seconds):
    n = int(RATE * seconds)
    out = []
    for i in range(n):
        t = i / RATE
        env = math.exp(-t * 3.0)
        mod = 2.0 * math.exp(-t * 4.0) * math.sin(2 * math.pi * freq * 3.5 * t)
        out.append(int(24000 * env * math.sin(2 * math.pi * freq * t + mod)))
    return out


def kick(seconds):
    n = int(RATE * seconds)
    out, phase = [], 0.0
    for i in range(n):
        t = i / RATE
        f = 45 + 110 * math.exp(-t * 30)
        phase += 2 * math.pi * f / RATE
        out.append(int(30000 * math.exp(-t * 9) * math.sin(phase)))
    return out


def write_wav(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", max(-32768, min(32767, s))) for s in samples))


# Cycle lengths are multiples of 28 samples so that a loop is whole blocks.
INSTRUMENTS = [
    # name, samples, loop, base frequency (Hz at pitch 0x1000)
    ("bass", looped_cycles(BLOCK * 14, 4, saw_soft, 20000), True, RATE / (BLOCK * 14)),
    ("organ", looped_cycles(BLOCK * 4, 16, organ, 16000), True, RATE / (BLOCK * 4)),
    ("vibrato", looped_cycles(BLOCK * 8, 4, sine, 1400), True, RATE / (BLOCK * 8)),
    ("bell", bell(440.0, 1.6), False, 440.0),
    ("kick", kick(0.35), False, None),
]

# ---------------------------------------------------------------- the piece

# The console's "Hall" reverb preset: work-area start (in 8-byte units) and the
# values of the 32 reverb registers 0x1F801DC0..0x1F801DFE.
HALL_START = 0xEA44
HALL = [0x01A5, 0x0139, 0x6000, 0x5000, 0x4C00, 0xB800, 0xBC00, 0xC000, 0x6000, 0x5C00, 0x15BA, 0x11BB, 0x14C2,
        0x10BD, 0x11BC, 0x0DC1, 0x11C0, 0x0DC3, 0x0DC0, 0x09C1, 0x0BC4, 0x07C1, 0x0A00, 0x06CD, 0x09C2, 0x05C1,
        0x05C0, 0x041A, 0x0274, 0x013A, 0x8000, 0x8000]
REVERB_VOLUME = 0x3000  # reverb return, left and right (0x7FFF is full scale)

FRAMES_PER_STEP = 5500  # one sixteenth note (about 120 beats per minute)
BARS = 12

NOTE = {n: i for i, n in enumerate(["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"])}


def freq(name):
    """'A4' -> 440 Hz."""
    octave = int(name[-1])
    return 440.0 * 2 ** ((NOTE[name[:-1]] + 12 * (octave + 1) - 69) / 12)


def pitch(f, base):
    return max(1, min(0x3FFF, int(round(0x1000 * f / base))))


def adsr1(attack_exp, attack, decay, sustain_level):
    return attack_exp << 15 | attack << 8 | decay << 4 | sustain_level


def adsr2(sus_exp, sus_dec, sus_rate, rel_exp, rel_rate):
    return sus_exp << 15 | sus_dec << 14 | sus_rate << 6 | rel_exp << 5 | rel_rate


VOICE = {"bass": 0, "kick": 1, "pad0": 2, "pad1": 3, "pad2": 4, "bell": 5, "hat": 6, "vib": 7, "lead": 8}
CHORDS = [("A", ["A3", "C4", "E4"]), ("F", ["F3", "A3", "C4"]), ("C", ["G3", "C4", "E4"]), ("G", ["G3", "B3", "D4"])]
BASS = {"A": "A1", "F": "F1", "C": "C2", "G": "G1"}
MELODY = [  # (step within a 4-bar phrase, note, length in steps)
    (0, "E5", 3), (4, "C5", 2), (6, "D5", 2), (8, "E5", 4), (12, "A4", 4),
    (16, "F5", 3), (20, "E5", 2), (22, "C5", 2), (24, "A4", 6),
    (32, "G4", 3), (36, "C5", 2), (38, "E5", 2), (40, "G5", 4), (44, "E5", 4),
    (48, "D5", 3), (52, "B4", 2), (54, "G4", 2), (56, "D5", 8),
]
LEAD = [(0, "A4", 14), (16, "C5", 14), (32, "E5", 14), (48, "D5", 12), (60, "B4", 4)]


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    spuhost = sys.argv[1]
    outdir = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "..", "..", "demo")
    base_unit = 0x0200  # byte 0x1000: clear of the CD capture areas at 0x000-0x7FF

    packed = b""
    place = {}
    with tempfile.TemporaryDirectory() as tmp:
        for name, samples, loop, base in INSTRUMENTS:
            wav = os.path.join(tmp, name + ".wav")
            adpcm = os.path.join(tmp, name + ".adpcm")
            write_wav(wav, samples)
            args = [spuhost, "encode", wav, adpcm] + (["--loop"] if loop else [])
            report = subprocess.run(args, check=True, capture_output=True, text=True).stdout
            print(name + ": " + report.strip().replace("\n", "; "))
            data = open(adpcm, "rb").read()
            place[name] = (base_unit + len(packed) // 8, base)
            packed += data
    # The reverb writes its whole work area all the time: the samples must stay below it.
    if base_unit * 8 + len(packed) > HALL_START * 8:
        sys.exit("instruments (%d bytes from byte 0x%X) reach the reverb work area at byte 0x%X"
                 % (len(packed), base_unit * 8, HALL_START * 8))
    with open(os.path.join(outdir, "instruments.adpcm"), "wb") as f:
        f.write(packed)

    events = {}  # frame -> list of lines

    def at(step, *lines):
        events.setdefault(step * FRAMES_PER_STEP, []).extend(lines)

    def reg(voice, r, value):
        return "w %08X %04X" % (0x1F801C00 + 16 * voice + r, value)

    def key(address, voices):
        mask = 0
        for v in voices:
            mask |= 1 << v
        lines = []
        if mask & 0xFFFF:
            lines.append("w %08X %04X" % (address, mask & 0xFFFF))
        if mask >> 16:
            lines.append("w %08X %04X" % (address + 2, mask >> 16))
        return lines

    def note_on(step, voice, instrument, f, left, right):
        unit, base = place[instrument]
        at(step, reg(voice, 0x0, left), reg(voice, 0x2, right), reg(voice, 0x6, unit),
           reg(voice, 0x4, pitch(f, base) if f else 0x1000), *key(0x1F801D88, [voice]))

    def note_off(step, *voices):
        at(step, *key(0x1F801D8C, list(voices)))

    # Envelopes: attack rate, decay rate, sustain level; sustain and release.
    envelopes = {
        "bass": (adsr1(0, 18, 8, 10), adsr2(0, 1, 80, 0, 12)),
        "kick": (adsr1(0, 10, 0, 15), adsr2(0, 0, 127, 0, 10)),
        "pad": (adsr1(0, 54, 0, 15), adsr2(0, 0, 127, 0, 16)),
        "bell": (adsr1(0, 16, 6, 4), adsr2(0, 1, 66, 0, 14)),
        "hat": (adsr1(0, 8, 3, 0), adsr2(0, 1, 40, 0, 8)),
        "vib": (adsr1(0, 0, 0, 15), adsr2(0, 0, 127, 0, 31)),
        "lead": (adsr1(1, 40, 4, 12), adsr2(1, 1, 90, 1, 14)),
    }
    setup = ["# Written by tools/demo/make_demo.py; edit that script, not this file.",
             "init",
             "w 1F801DA6 %04X" % base_unit,
             "dmafile instruments.adpcm",
             "w 1F801D80 3FFF", "w 1F801D82 3FFF",
             # The "Hall" room: work area from 0xEA44 * 8 bytes to the end of sound RAM,
             # well above the instruments (they end below byte 0x10000), then its 32
             # reverb registers and the reverb return volumes.
             "w 1F801DA2 %04X" % HALL_START,
             *["w %08X %04X" % (0x1F801DC0 + 2 * i, v) for i, v in enumerate(HALL)],
             "w 1F801D84 %04X" % REVERB_VOLUME, "w 1F801D86 %04X" % REVERB_VOLUME,
             # Control: SPU on, unmuted, fast noise clock for the hi-hat (bits 8-13),
             # reverb master enable (bit 7).
             "w 1F801DAA %04X" % (0xC000 | 0x3C00 | 0x0080),
             "w 1F801D94 %04X" % (1 << VOICE["hat"]),  # noise
             "w 1F801D90 %04X" % (1 << VOICE["lead"]),  # pitch modulated by the vibrato voice
             "w 1F801D98 %04X" % (1 << VOICE["pad0"] | 1 << VOICE["pad1"] | 1 << VOICE["pad2"] | 1 << VOICE["bell"]
                                  | 1 << VOICE["lead"])]
    for name, v in VOICE.items():
        a1, a2 = envelopes[name[:3] if name.startswith("pad") else name]
        setup += [reg(v, 0x8, a1), reg(v, 0xA, a2)]
    events[0] = setup

    # The vibrato voice runs all the time, silent in the mix (volume 0): only its
    # output modulates the lead's pitch (about 5.5 Hz).
    unit, base = place["vibrato"]
    at(0, reg(VOICE["vib"], 0x0, 0), reg(VOICE["vib"], 0x2, 0), reg(VOICE["vib"], 0x6, unit),
       reg(VOICE["vib"], 0x4, pitch(5.5, base)), *key(0x1F801D88, [VOICE["vib"]]))

    rng = random.Random(3)
    for bar in range(BARS):
        s0 = bar * 16
        chord_name, chord = CHORDS[bar % 4]
        # pad: a new chord each bar, sliding release from the previous one
        if bar > 0:
            note_off(s0, VOICE["pad0"], VOICE["pad1"], VOICE["pad2"])
        for i, n in enumerate(chord):
            pan = [(0x0900, 0x0500), (0x0700, 0x0700), (0x0500, 0x0900)][i]
            note_on(s0, VOICE["pad%d" % i], "organ", freq(n), *pan)
        # bass: eighth notes with an octave jump, from bar 2
        if bar >= 1:
            for e in range(8):
                f = freq(BASS[chord_name]) * (2 if e % 4 == 3 else 1)
                note_on(s0 + 2 * e, VOICE["bass"], "bass", f, 0x1800, 0x1800)
                note_off(s0 + 2 * e + 1, VOICE["bass"])
        # kick on the beats, hi-hat (noise) on the off-beats, from bar 3
        if bar >= 2:
            for b in range(4):
                note_on(s0 + 4 * b, VOICE["kick"], "kick", None, 0x2800, 0x2800)
            for e in range(8):
                loud = 0x0500 + rng.randrange(0x300)
                note_on(s0 + 2 * e + 1, VOICE["hat"], "organ", freq("A4"), loud - 0x200, loud)
        # bell melody in bars 5-12, the FM lead over it in bars 9-12
        if bar >= 4 and bar % 4 == 0:
            for step, n, length in MELODY:
                note_on(s0 + step, VOICE["bell"], "bell", freq(n), 0x1400, 0x1000)
        if bar == 8:
            for step, n, length in LEAD:
                note_on(s0 + step, VOICE["lead"], "organ", freq(n), 0x0C00, 0x1000)
                note_off(s0 + step + length, VOICE["lead"])
    end = BARS * 16
    note_off(end, *VOICE.values())
    events.setdefault((end + 8) * FRAMES_PER_STEP, [])  # let the releases ring out

    lines = []
    last = 0
    for frame in sorted(events):
        if frame > last:
            lines.append("render %d" % (frame - last))
            last = frame
        lines += events[frame]
    with open(os.path.join(outdir, "demo.script"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("demo: %.1f s, %d script lines" % (last / RATE, len(lines)))


if __name__ == "__main__":
    main()
