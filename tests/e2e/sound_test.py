#!/usr/bin/env python3
"""The sound of a stage plays, whole, through a real sound server when the stage ends.

A private PulseAudio with a silent sink stands in for the speakers; its monitor is recorded while the
program runs a 1-second stage whose wave file is a steady tone that starts and stops abruptly. The
recording must hold that tone, at its pitch, for as long as the file lasts: not cut short at the end,
not broken up, and not replaced by the built-in chime.
"""

import array
import math
import os
import signal
import subprocess
import sys
import time
import wave

from desktop import Desktop, Failure, check, main, wait_for, write_conf

TONE_HZ = 660.0
TONE_SECONDS = 0.8
FILE_RATE = 22050
RECORD_RATE = 48000
WINDOW = 0.005  # envelope resolution, seconds
# The length is measured to within one period of the tone (1.5 ms); an output that drops the last
# hundred milliseconds or so, as some do, is far outside this.
LENGTH_TOLERANCE = 0.01


def write_tone(path):
    frames = int(TONE_SECONDS * FILE_RATE)
    samples = array.array("h", (int(16000 * math.sin(2 * math.pi * TONE_HZ * i / FILE_RATE)) for i in range(frames)))
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(FILE_RATE)
        out.writeframes(samples.tobytes())


def envelope(samples):
    step = int(WINDOW * RECORD_RATE)
    return [
        math.sqrt(sum(s * s for s in samples[i : i + step]) / step) for i in range(0, len(samples) - step + 1, step)
    ]


def analyse(samples):
    """(start s, length s, gaps, pitch Hz, peak rms) of the loud part of a recording.

    Start and end are taken to the sample: the first and last sample above a third of the loudest, so
    the length is exact to within one period of the tone."""
    env = envelope(samples)
    check(env, "the recording is empty")
    peak = max(env)
    check(peak > 1000, f"the recording is silent (peak rms {peak:.0f})")
    threshold = max(abs(s) for s in samples) / 3
    loud = [i for i, s in enumerate(samples) if abs(s) > threshold]
    first, last = loud[0], loud[-1]
    step = int(WINDOW * RECORD_RATE)
    inner = env[first // step + 1 : last // step]
    gaps = sum(1 for v in inner if v <= peak * 0.25)
    body = samples[first : last + 1]
    crossings = sum(1 for a, b in zip(body, body[1:]) if a < 0 <= b)
    seconds = len(body) / RECORD_RATE
    return first / RECORD_RATE, seconds, gaps, crossings / seconds, peak


def test(program, artefacts, _options):
    with Desktop("sound", program, artefacts, sound=True) as desktop:
        tone = os.path.join(desktop.root, "tone.wav")
        write_tone(tone)
        home = desktop.new_config_home("sound")
        write_conf(home, f"[Stages]\nSeconds1=1\nSoundFile1={tone}\n")

        kestrim = desktop.start_kestrim(home)
        kestrim.wait_main_window()
        kestrim.activate()

        raw = os.path.join(artefacts, "recording.raw")
        with open(raw, "wb") as sink:
            recorder = desktop.spawn(
                "parec",
                ["parec", "-d", desktop.sink_monitor, "--format=s16le", f"--rate={RECORD_RATE}", "--channels=1",
                 "--latency-msec=20"],
                stdout=sink,
            )
        wait_for("the recorder to be connected",
                 lambda: desktop.run(["pactl", "list", "short", "source-outputs"], check=False).stdout.strip())
        recording_started = time.monotonic()
        time.sleep(0.3)

        kestrim.key("space")
        started = time.monotonic()

        # Stage 1 ends after 1 s: the tone plays then, for TONE_SECONDS. Record well past its end.
        def recorded_past_tone():
            return time.monotonic() - started > 1.0 + TONE_SECONDS + 1.5

        wait_for("the tone to have had time to play", recorded_past_tone, timeout=10)
        recorder.send_signal(signal.SIGINT)
        try:
            recorder.wait(timeout=5)
        except subprocess.TimeoutExpired:
            raise Failure("the recorder did not stop") from None
        check(kestrim.alive(), f"the program ended while playing: {kestrim.log()}")

        samples = array.array("h")
        with open(raw, "rb") as f:
            data = f.read()
        samples.frombytes(data[: len(data) // 2 * 2])
        check(len(samples) > RECORD_RATE * 2, f"only {len(samples) / RECORD_RATE:.2f} s were recorded")
        start, length, gaps, pitch, peak = analyse(samples)
        # It belongs to the end of the 1 s stage, give or take the output's latency and our own timing.
        late = start - (started + 1.0 - recording_started)
        print(f"tone {late * 1000:+.0f} ms after the stage end, {length * 1000:.1f} ms long "
              f"(file: {TONE_SECONDS * 1000:.0f} ms), {gaps} quiet windows inside, {pitch:.1f} Hz, peak rms {peak:.0f}")
        check(-0.2 <= late <= 1.0, f"the tone began {late:+.2f} s away from the end of the 1 s stage")
        check(abs(pitch - TONE_HZ) < TONE_HZ * 0.02,
              f"the sound played is at {pitch:.0f} Hz, not the file's {TONE_HZ:.0f} Hz: another sound played")
        check(gaps == 0, f"the tone was broken up: {gaps} quiet stretches of {WINDOW * 1000:.0f} ms inside it")
        check(length >= TONE_SECONDS - LENGTH_TOLERANCE,
              f"the tone lasted {length * 1000:.0f} ms of the file's {TONE_SECONDS * 1000:.0f} ms: "
              f"{(TONE_SECONDS - length) * 1000:.0f} ms were cut off")
        check(length <= TONE_SECONDS + LENGTH_TOLERANCE,
              f"the tone lasted {length * 1000:.0f} ms, longer than the file: more than one sound played")
        kestrim.alt_f4()
        check(kestrim.wait_exit() == 0, "Alt+F4 did not end the program")


if __name__ == "__main__":
    sys.exit(main(test))
