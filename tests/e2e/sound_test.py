#!/usr/bin/env python3
"""The sound of each stage plays, whole, through a real sound server when the stage ends.

A private PulseAudio with a silent sink stands in for the speakers; its monitor is recorded while the
program runs three stages of STAGE_SECONDS, whose sound files are steady tones that start and stop
abruptly, each at its own pitch and in its own encoding: plain PCM wave, IMA ADPCM wave and FLAC (the
last two made by sox from tones of our own). The recording must hold each tone after its stage's end, at
its pitch, for as long as the file lasts: not cut short at the end, not broken up, and not replaced by the
built-in chime.
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

# (file name, pitch, how sox re-encodes the PCM tone; None keeps it as written)
TONES = [("tone.wav", 660.0, None), ("tone-ima.wav", 550.0, ["-e", "ima-adpcm"]), ("tone.flac", 440.0, [])]
TONE_SECONDS = 0.8
STAGE_SECONDS = 3
FILE_RATE = 22050
RECORD_RATE = 48000
WINDOW = 0.005  # envelope resolution, seconds
# The length is measured to within one period of the tone (1.5 ms); an output that drops the last
# hundred milliseconds or so, as some do, is far outside this.
LENGTH_TOLERANCE = 0.01


def write_tone(path, hz):
    frames = int(TONE_SECONDS * FILE_RATE)
    samples = array.array("h", (int(16000 * math.sin(2 * math.pi * hz * i / FILE_RATE)) for i in range(frames)))
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


def make_tones(desktop):
    """Writes the tones and returns their paths."""
    paths = []
    for name, hz, encoding in TONES:
        path = os.path.join(desktop.root, name)
        if encoding is None:
            write_tone(path, hz)
        else:
            pcm = path + ".pcm.wav"
            write_tone(pcm, hz)
            desktop.run(["sox", pcm] + encoding + [path])
        paths.append(path)
    return paths


def test(program, artefacts, _options):
    with Desktop("sound", program, artefacts, sound=True) as desktop:
        tones = make_tones(desktop)
        home = desktop.new_config_home("sound")
        stages = "".join(f"Seconds{n}={STAGE_SECONDS}\nSoundFile{n}={path}\n" for n, path in enumerate(tones, 1))
        write_conf(home, f"[Stages]\nCount={len(tones)}\n{stages}")

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

        # Stage n ends after n * STAGE_SECONDS and its tone plays then, for TONE_SECONDS. Record well past
        # the last one's end, and stop before the last stage, the only one to repeat, ends again.
        last_end = len(tones) * STAGE_SECONDS

        def recorded_past_tones():
            return time.monotonic() - started > last_end + TONE_SECONDS + 1.5

        wait_for("the tones to have had time to play", recorded_past_tones, timeout=last_end + 10)
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
        check(len(samples) > RECORD_RATE * (last_end + 1), f"only {len(samples) / RECORD_RATE:.2f} s were recorded")
        for n, (name, hz, _encoding) in enumerate(TONES, 1):
            # Each stage end's share of the recording: from just before it to just before the next one.
            stage_end = started + n * STAGE_SECONDS - recording_started
            first = int((stage_end - 0.5) * RECORD_RATE)
            part = samples[first : first + int((STAGE_SECONDS - 0.3) * RECORD_RATE)]
            start, length, gaps, pitch, peak = analyse(part)
            # It belongs to the end of its stage, give or take the output's latency and our own timing.
            late = start - 0.5
            print(f"{name}: {late * 1000:+.0f} ms after the stage end, {length * 1000:.1f} ms long "
                  f"(file: {TONE_SECONDS * 1000:.0f} ms), {gaps} quiet windows inside, {pitch:.1f} Hz, "
                  f"peak rms {peak:.0f}")
            check(-0.2 <= late <= 1.0, f"{name} began {late:+.2f} s away from the end of stage {n}")
            check(abs(pitch - hz) < hz * 0.02,
                  f"the sound played at the end of stage {n} is at {pitch:.0f} Hz, not {name}'s {hz:.0f} Hz: "
                  "another sound played")
            check(gaps == 0, f"{name} was broken up: {gaps} quiet stretches of {WINDOW * 1000:.0f} ms inside it")
            check(length >= TONE_SECONDS - LENGTH_TOLERANCE,
                  f"{name} lasted {length * 1000:.0f} ms of its {TONE_SECONDS * 1000:.0f} ms: "
                  f"{(TONE_SECONDS - length) * 1000:.0f} ms were cut off")
            check(length <= TONE_SECONDS + LENGTH_TOLERANCE,
                  f"{name} lasted {length * 1000:.0f} ms, longer than the file: more than one sound played")
        kestrim.alt_f4()
        check(kestrim.wait_exit() == 0, "Alt+F4 did not end the program")


if __name__ == "__main__":
    sys.exit(main(test))
