#!/usr/bin/env python3
"""The real program under a storm of keys and resizes: it must not crash, stall, grow or lose count.

Twenty random key presses a second (SPACE, ESC and keys that must do nothing; never Alt+F4), a new
window size every few seconds and now and then a trip through the minimised state. Every stage lasts one
second and names a real wave file, a missing one or none, so the clock changes stages and the player
starts, replaces and falls back on sounds all the time. At regular checkpoints the storm stops and the
read-out must agree with the state the keys put the clock in: counting while running, standing while
paused, continuing from the paused time, 00:00 after a reset, true seconds after a fresh start.

Usage: soak_test.py PROGRAM ARTEFACTS [--duration SECONDS] [--checkpoint-every SECONDS]
Memory (VmRSS, the least of a few readings in the ready state) is compared between the first checkpoint
and the last one.
"""

import argparse
import os
import random
import sys
import time

from desktop import Desktop, check, main, wait_for, write_conf
from sound_test import write_tone

# Two thirds of the presses are keys without a meaning to the clock: SPACE and ESC alone would toggle it
# so fast that it never runs long enough to reach a stage end.
CLOCK_KEYS = ["space", "Escape", "shift+space", "ctrl+Escape"]
OTHER_KEYS = ["a", "z", "1", "Return", "Tab", "BackSpace", "Delete", "Left", "Up", "Home", "F1", "F4", "F5",
              "ctrl+F4", "shift+F4", "KP_Add", "minus", "period"]
RSS_GROWTH_LIMIT_KB = 2048
PRESSES_PER_SECOND = 20


def random_keys(rng):
    return [rng.choice(CLOCK_KEYS) if rng.random() < 0.33 else rng.choice(OTHER_KEYS)
            for _ in range(PRESSES_PER_SECOND)]


def changes_within(kestrim, seconds):
    first = kestrim.title()
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if kestrim.title() != first:
            return True
        time.sleep(0.05)
    return False


def settled_rss(kestrim):
    """The least of a few readings over a second: a sound buffer or a pending repaint that happens to be
    alive at one reading is no growth."""
    readings = []
    for _ in range(5):
        readings.append(kestrim.rss_kb())
        time.sleep(0.2)
    return min(readings)


def checkpoint(kestrim, label):
    """Brings the clock through every state by keys and checks the minimised read-out at each step."""
    kestrim.minimise()
    if changes_within(kestrim, 1.5):
        kestrim.key("space")  # running -> paused
    else:
        kestrim.key("Escape")  # ready or paused -> running
        check(changes_within(kestrim, 3.0), f"{label}: the clock did not count after ESC")
        kestrim.key("space")
    time.sleep(0.3)
    paused_at = kestrim.caption_time()
    check(paused_at is not None, f'{label}: no time in the caption after pausing: "{kestrim.title()}"')
    kestrim.caption_still(1.5)

    kestrim.key("Escape")
    shown = kestrim.wait_caption(lambda t: t != paused_at, f"{label}: the clock to continue", timeout=4)
    check(shown == paused_at + 1, f"{label}: continued from {paused_at} s to {shown} s")

    kestrim.key("space")
    time.sleep(0.3)
    kestrim.key("space")
    kestrim.wait_caption(lambda t: t == 0, f"{label}: 00:00 after the reset")
    kestrim.caption_still(1.2)

    kestrim.key("space")
    started = time.monotonic()
    kestrim.wait_caption(lambda t: t >= 2, f"{label}: the clock to count two seconds", timeout=6)
    took = time.monotonic() - started
    check(1.9 <= took <= 4.0, f"{label}: two seconds on the clock took {took:.2f} s")

    kestrim.key("space")
    time.sleep(0.3)
    kestrim.key("space")
    kestrim.wait_caption(lambda t: t == 0, f"{label}: 00:00 after the second reset")
    kestrim.activate()
    wait_for(f'{label}: the plain caption "Kestrim" once restored', lambda: kestrim.title() == "Kestrim")


def test(program, artefacts, options):
    parser = argparse.ArgumentParser()
    parser.add_argument("--duration", type=float, default=600)
    parser.add_argument("--checkpoint-every", type=float, default=60)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args(options)
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    print(f"seed {seed}")
    rng = random.Random(seed)

    with Desktop("soak", program, artefacts, sound=True) as desktop:
        tone = os.path.join(desktop.root, "short.wav")
        write_tone(tone, 440)
        home = desktop.new_config_home("soak")
        write_conf(home, "[Stages]\nCount=4\n"
                   f"Seconds1=1\nSoundFile1={tone}\n"
                   f"Seconds2=1\nSoundFile2={os.path.join(desktop.root, 'missing.wav')}\n"
                   "Seconds3=1\nSoundFile3=\n"
                   f"Seconds4=1\nSoundFile4={tone}\n")
        kestrim = desktop.start_kestrim(home)
        kestrim.wait_main_window()
        kestrim.activate()
        sw, sh = desktop.screen

        rss = []  # (seconds since start, kB) after each checkpoint
        log = open(os.path.join(artefacts, "rss.log"), "w")
        began = time.monotonic()
        next_checkpoint = began + args.checkpoint_every
        next_resize = began
        next_minimise = began + 7
        presses = resizes = 0
        while True:
            now = time.monotonic()
            check(kestrim.alive(), f"the program died after {now - began:.0f} s: {kestrim.log()[-2000:]}")
            if now >= next_checkpoint or now - began >= args.duration:
                checkpoint(kestrim, f"checkpoint at {now - began:.0f} s")
                rss.append((now - began, settled_rss(kestrim)))
                print(f"{rss[-1][0]:6.0f} s  {rss[-1][1]} kB  ({presses} keys, {resizes} resizes)", file=log, flush=True)
                if now - began >= args.duration:
                    break
                next_checkpoint = time.monotonic() + args.checkpoint_every
                continue
            if now >= next_resize:
                size = (rng.randrange(200, sw - 40), rng.randrange(150, sh - 60))
                desktop.xdotool("windowsize", str(kestrim.window), str(size[0]), str(size[1]))
                resizes += 1
                next_resize = now + rng.uniform(2, 4)
            if now >= next_minimise:
                # Keys while minimised take the other road: sent to the window instead of typed.
                kestrim.minimise()
                kestrim.key(*random_keys(rng)[:10], delay_ms=40)
                presses += 10
                kestrim.activate()
                next_minimise = time.monotonic() + rng.uniform(15, 25)
            second = time.monotonic()
            kestrim.key(*random_keys(rng), delay_ms=1000 // PRESSES_PER_SECOND - 10)
            presses += PRESSES_PER_SECOND
            left = 1.0 - (time.monotonic() - second)
            if left > 0:
                time.sleep(left)
        log.close()

        print(f"{presses} key presses, {resizes} resizes in {time.monotonic() - began:.0f} s; "
              f"RSS after each checkpoint: {', '.join(f'{t:.0f} s: {kb} kB' for t, kb in rss)}")
        check(len(rss) >= 2, "the run was too short for two checkpoints")
        growth = rss[-1][1] - rss[0][1]
        check(growth < RSS_GROWTH_LIMIT_KB,
              f"resident memory grew by {growth} kB between {rss[0][0]:.0f} s and {rss[-1][0]:.0f} s")

        kestrim.alt_f4()
        code = kestrim.wait_exit()
        check(code == 0, f"the program ended with {code} after Alt+F4")
        noise = [line for line in kestrim.log().splitlines() if line.strip()]
        if noise:
            print("the program printed:\n  " + "\n  ".join(noise[:20]))
        check(not any(("ASSERT" in line or "Fatal" in line or "Segmentation" in line) for line in noise),
              "the program reported an internal failure")


if __name__ == "__main__":
    sys.exit(main(test))
