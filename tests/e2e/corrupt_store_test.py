#!/usr/bin/env python3
"""A stored value the program cannot use: an error box titled "Kestrim", exit status 1, store untouched.

The store holds a full, otherwise valid configuration and a placement, so that any write on the way out
(the placement on closing, a "repaired" value) would change its bytes.
"""

import os
import sys

from desktop import Desktop, check, conf_path, fatal_unless, main, sha256_of, wait_for, write_conf

VALID = {
    "Font": {"Bold": "False", "Italic": "False", "Name": "Arial"},
    "Sound": {"Enabled": "True"},
    "Stages": {
        "Count": "2",
        "BackColor1": "0", "ForeColor1": "65280", "Seconds1": "900", "SoundFile1": "", "Description1": "Talk",
        "BackColor2": "0", "ForeColor2": "65535", "Seconds2": "300", "SoundFile2": "", "Description2": "Questions",
    },
    "Window": {"State": "0", "Left": "1500", "Top": "1200", "Width": "7515", "Height": "5865"},
}

# (what is wrong, section, key, stored text, a word the message must contain)
CASES = [
    ("stage count not a number", "Stages", "Count", "abc", "Count"),
    ("stage count below one", "Stages", "Count", "0", "Count"),
    ("stage length beyond 32 bits", "Stages", "Seconds2", "4294967296", "Seconds2"),
    ("window state out of range", "Window", "State", "7", "State"),
    ("sound switch not a boolean", "Sound", "Enabled", "maybe", "Enabled"),
]

RED = lambda rgb: rgb[0] >= 180 and rgb[1] <= 80 and rgb[2] <= 80  # noqa: E731  the critical icon's disc


def conf_text(section, key, value):
    lines = []
    for name, keys in VALID.items():
        lines.append(f"[{name}]")
        for k, v in keys.items():
            lines.append(f"{k}={value if (name, k) == (section, key) else v}")
        lines.append("")
    return "\n".join(lines)


def folder_listing(config_home):
    return sorted(os.path.relpath(os.path.join(d, f), config_home) for d, _, fs in os.walk(config_home) for f in fs)


def test(program, artefacts, _options):
    with Desktop("corrupt", program, artefacts) as desktop:
        for n, (what, section, key, value, word) in enumerate(CASES):
            home = desktop.new_config_home(f"case{n}")
            write_conf(home, conf_text(section, key, value))
            before = sha256_of(conf_path(home))
            files_before = folder_listing(home)

            kestrim = desktop.start_kestrim(home, f"case{n}")

            def error_box():
                fatal_unless(kestrim.alive(), f"{what}: the program ended with {kestrim.proc.returncode} without an error box")
                for w in desktop.windows_of(kestrim.pid, "^Kestrim$"):
                    if kestrim.frame_extents(w) is not None:
                        return w
                return None

            kestrim.window = wait_for(f"{what}: a window titled Kestrim", error_box)
            types = desktop.run(["xprop", "-id", str(kestrim.window), "_NET_WM_WINDOW_TYPE"]).stdout
            check("_NET_WM_WINDOW_TYPE_DIALOG" in types, f"{what}: the window titled Kestrim is no message box")
            check(len(desktop.windows_of(kestrim.pid, ".")) == 1, f"{what}: more than the error box is on screen")

            # The box shows the critical icon (a red disc) next to its message.
            x, y, width, height = kestrim.settled_geometry()

            def shows_icon():
                colours = desktop.screenshot(f"case{n}.png").solid_colours(x, y, width, height)
                return sum(count for rgb, count in colours.items() if RED(rgb)) >= 50

            wait_for(f"{what}: the critical icon in the error box", shows_icon)

            kestrim.key("Return", may_close=True)
            code = kestrim.wait_exit()
            check(code == 1, f"{what}: exit status {code} after the error box, expected 1")
            check(sha256_of(conf_path(home)) == before, f"{what}: the store was changed")
            check(folder_listing(home) == files_before,
                  f"{what}: files appeared in the settings folder: {folder_listing(home)}")
            message = kestrim.log()
            check(word in message and value in message,
                  f"{what}: the error printed does not name {word} and {value!r}: {message!r}")


if __name__ == "__main__":
    sys.exit(main(test))
