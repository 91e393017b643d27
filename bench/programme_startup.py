#!/usr/bin/env python3
"""Start-up with a programme of 200 talks against none: the same program started in turns with each store on a
virtual display, the time from the start to the main window's map taken as process_figures.py takes it.

  bench/programme_startup.py --kestrim build/release/kestrim [--pairs 12]
"""

import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import process_figures as pf  # noqa: E402


def programme_store(count):
    # Every key a talk can have, so that the start reads the most a programme of that size holds.
    talks = "".join(f"Title{n}=Talk {n} of the session\nSpeaker{n}=Speaker {n}\nStart{n}=\nLengths{n}=1200,300,300\n"
                    f"Started{n}=2024-05-06T09:00:00\nElapsed{n}=1500\n" for n in range(1, count + 1))
    return f"[Programme]\nCount={count}\nSessionStart=09:00\nCurrent={count}\n{talks}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--kestrim", required=True)
    parser.add_argument("--pairs", type=int, default=12)
    args = parser.parse_args()
    desktop = pf.Desktop()
    try:
        pf.Program(desktop, args.kestrim, "Kestrim").stop()  # warm caches first
        times = {"none": [], "200 talks": []}
        stores = [("none", None), ("200 talks", programme_store(200))]
        for i in range(args.pairs):
            for name, store in stores if i % 2 == 0 else reversed(stores):
                program = pf.Program(desktop, args.kestrim, "Kestrim", store)
                times[name].append(program.startup * 1000)
                program.stop()
                time.sleep(0.3)
        medians = {name: statistics.median(values) for name, values in times.items()}
        for name, values in times.items():
            print(f"{name:10} median {medians[name]:.1f} ms of {[round(v, 1) for v in values]}")
        print(f"ratio of medians {medians['200 talks'] / medians['none']:.3f}")
    finally:
        desktop.close()


if __name__ == "__main__":
    main()
