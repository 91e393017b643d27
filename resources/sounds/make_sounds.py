#!/usr/bin/env python3
"""Writes Kestrim's own stage-end sounds and the fallback chime.

    python3 make_sounds.py [output folder]

Sound1.wav, Sound2.wav and Sound3.wav are one, two and three strokes of a small struck bell; fallback.wav is
a soft two-tone chime, deliberately unlike a bell, played when a stage names a file that cannot be played.
All are 16-bit PCM, mono, 44100 Hz. The output is deterministic (no random numbers), so running the script
again reproduces the committed files byte for byte.
"""

import math
import os
import struct
import sys
import wave

RATE = 44100
PEAK = 0.72  # headroom below full scale, so resampling in the sound server never clips

# A struck bell: a fundamental near A5 and inharmonic partials, each fading at its own rate (the higher ones
# die away first, which is what makes it sound struck rather than synthesised). (ratio, amplitude, decay s)
BELL_PARTIALS = [
    (0.5, 0.10, 0.90),  # hum tone, faint
    (1.0, 1.00, 0.55),
    (1.19, 0.28, 0.40),  # minor third above: the bell's characteristic colour
    (1.51, 0.22, 0.32),
    (2.00, 0.40, 0.28),
    (2.74, 0.18, 0.16),
    (3.76, 0.09, 0.10),
]
BELL_FUNDAMENTAL = 880.0


def bell_stroke(t):
    """One stroke's sample at t seconds after the strike (t >= 0)."""
    attack = min(1.0, t / 0.004)  # 4 ms rise: a strike, but no click
    value = 0.0
    for ratio, amplitude, decay in BELL_PARTIALS:
        freq = BELL_FUNDAMENTAL * ratio
        value += amplitude * math.exp(-t / decay) * math.sin(2.0 * math.pi * freq * t)
    return attack * value


def bell(strokes, spacing, length):
    """`strokes` strikes `spacing` seconds apart in a clip of `length` seconds."""
    frames = int(round(length * RATE))
    onsets = [i * spacing for i in range(strokes)]
    out = []
    for n in range(frames):
        t = n / RATE
        out.append(sum(bell_stroke(t - onset) for onset in onsets if t >= onset))
    return out


def chime(length=0.4):
    """Two soft sine tones, a fourth apart, each with a raised-cosine envelope."""
    frames = int(round(length * RATE))
    half = frames // 2
    out = []
    for n in range(frames):
        t = n / RATE
        if n < half:
            freq, local, span = 659.26, n, half
        else:
            freq, local, span = 880.0, n - half, frames - half
        envelope = 0.5 - 0.5 * math.cos(2.0 * math.pi * local / span)
        out.append(envelope * (math.sin(2.0 * math.pi * freq * t) + 0.15 * math.sin(4.0 * math.pi * freq * t)))
    return out


def finish(samples, fade=0.05):
    """Scales to PEAK and fades the last `fade` seconds to silence so the end never clicks."""
    top = max(abs(s) for s in samples) or 1.0
    fade_frames = int(fade * RATE)
    out = []
    for n, s in enumerate(samples):
        gain = PEAK / top
        remaining = len(samples) - 1 - n
        if remaining < fade_frames:
            gain *= remaining / fade_frames
        out.append(s * gain)
    return out


def write(path, samples):
    data = b"".join(struct.pack("<h", max(-32767, min(32767, int(round(s * 32767))))) for s in samples)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(data)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write(os.path.join(folder, "Sound1.wav"), finish(bell(1, 0.0, 1.3)))
    write(os.path.join(folder, "Sound2.wav"), finish(bell(2, 0.42, 1.6)))
    write(os.path.join(folder, "Sound3.wav"), finish(bell(3, 0.38, 1.9)))
    write(os.path.join(folder, "fallback.wav"), finish(chime(), fade=0.02))


if __name__ == "__main__":
    main()
