"""Unpacks the Debian package into a scratch root and runs the program installed there, as a user would.

    run_installed.py PACKAGE-FOLDER ARTEFACT-FOLDER E2E-FOLDER

The program is started through the link in usr/bin on a private X desktop with an empty configuration.
Its default sound paths are read the only way the program reveals them: the options dialog is opened from
the toolbar and its "Save" button (which has the focus when the dialog opens) writes the configuration in
force to the settings file. Then SIGTERM must end the program cleanly, keeping the window's placement.
"""

import glob
import os
import signal
import subprocess
import sys
import tempfile

# The source tree is not ours to write in: no __pycache__ beside the imported module.
sys.dont_write_bytecode = True
E2E_FOLDER = sys.argv[3] if len(sys.argv) > 3 else os.path.join(os.path.dirname(__file__), "..", "e2e")
sys.path.insert(0, E2E_FOLDER)

import desktop  # noqa: E402  (the end-to-end tests' private X desktop)
from desktop import check, wait_for  # noqa: E402

TOOLBAR_BUTTONS = ("Start", "Stop", "Reset", "Option", "Sound", "Help", "Exit")
STAGE_SOUNDS = ("Sound1.wav", "Sound2.wav", "Sound3.wav", "Sound3.wav")


def is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def strongly_differs(a, b):
    return max(abs(a[i] - b[i]) for i in range(3)) > 40


def toolbar_buttons(image, kestrim):
    """Centres (x, y) on the screen of the toolbar's buttons, left to right.

    With the built-in configuration the minute digits stand on black under the toolbar, and the toolbar's
    background is the same in every column of a row. Columns holding a picture, or the frame of a pressed
    button, differ strongly from the background at the far right; separators are too faint or too thin to
    count as a button."""
    x0, y0, width, height = kestrim.client_geometry()
    probe = x0 + width // 4
    digits_top = next((y for y in range(y0, y0 + height) if image.pixel(probe, y) == (0, 0, 0)), None)
    check(digits_top is not None and digits_top - y0 >= 16, "found no toolbar above the black digit area")
    background = x0 + width - 2
    rows = range(y0 + 1, digits_top - 2)
    runs = []
    for x in range(x0, background - 2):
        if any(strongly_differs(image.pixel(x, y), image.pixel(background, y)) for y in rows):
            if runs and x - runs[-1][1] <= 3:
                runs[-1][1] = x
            else:
                runs.append([x, x])
    buttons = [(left + right) // 2 for left, right in runs if right - left >= 4]
    check(len(buttons) == len(TOOLBAR_BUTTONS),
          f"found {len(buttons)} toolbar pictures at x = {buttons}, expected {len(TOOLBAR_BUTTONS)}")
    middle = y0 + (digits_top - y0) // 2
    return {key: (x, middle) for key, x in zip(TOOLBAR_BUTTONS, buttons)}


def test(root, artefacts):
    program = os.path.join(root, "usr/bin/kestrim")
    folder = os.path.join(root, "usr/lib/kestrim")
    check(os.path.islink(program), f"{program} is not a link")

    with desktop.Desktop("installed", program, artefacts, screen=(1280, 1024)) as desk:
        config_home = desk.new_config_home("installed")
        kestrim = desk.start_kestrim(config_home)
        kestrim.wait_main_window()
        check(os.path.realpath(f"/proc/{kestrim.pid}/exe") == os.path.realpath(os.path.join(folder, "kestrim")),
              "the started process is not the installed program")
        kestrim.activate()

        image = desk.screenshot(save_as="main-window.png")
        x, y = toolbar_buttons(image, kestrim)["Option"]
        desk.xdotool("mousemove", "--sync", str(x), str(y))
        desk.xdotool("click", "1")
        dialogs = wait_for("the options dialog", lambda: desk.windows_of(kestrim.pid, r"^Options\.\.\.$"))
        check(len(dialogs) == 1, f"{len(dialogs)} options dialogs are open")
        desk.screenshot(save_as="options-dialog.png")

        settings = os.path.join(config_home, "Kestrim", "Kestrim.conf")
        check(not os.path.exists(settings), "the settings file was written before anything was saved")
        desk.xdotool("key", "--window", str(dialogs[0]), "space")
        stages = wait_for("Save to write the stages",
                          lambda: desktop.read_conf(config_home).get("Stages", {}).get("SoundFile4"))
        check(stages, "no sound file for stage 4")
        conf = desktop.read_conf(config_home)
        for number, name in enumerate(STAGE_SOUNDS, start=1):
            stored = conf["Stages"].get(f"SoundFile{number}")
            expected = os.path.join(folder, name)
            check(stored == expected, f"SoundFile{number} is {stored!r}, expected the installed {expected!r}")
            check(os.path.isfile(stored), f"SoundFile{number} names a file that does not exist: {stored}")

        desk.xdotool("key", "--window", str(dialogs[0]), "Escape", check=False)
        wait_for("the options dialog to close", lambda: not desk.windows_of(kestrim.pid, r"^Options\.\.\.$"))
        check(kestrim.alive(), "the program ended when the options dialog closed")

        os.kill(kestrim.pid, signal.SIGTERM)
        code = kestrim.wait_exit()
        check(code == 0, f"after SIGTERM the program ended with {code}: {kestrim.log()}")
        window = desktop.read_conf(config_home).get("Window", {})
        for key in ("State", "Left", "Top", "Width", "Height"):
            check(key in window, f"[Window] {key} was not written on SIGTERM: {window}")
            check(is_number(window[key]), f"[Window] {key} is not a number: {window[key]!r}")
        check(window["State"] == "0", f"[Window] State is {window['State']!r} for a window at normal size")
        check(float(window["Width"]) > 0 and float(window["Height"]) > 0, f"[Window] size is not positive: {window}")


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder, artefacts = argv[0], argv[1]
    packages = glob.glob(os.path.join(folder, "*.deb"))
    if len(packages) != 1:
        print(f"FAIL: expected one package in {folder}, found {packages}", file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory(prefix="kestrim-root-") as root:
        unpacked = subprocess.run(["dpkg", "-x", packages[0], root], capture_output=True, text=True)
        if unpacked.returncode != 0:
            print(f"FAIL: dpkg -x: {unpacked.stderr}", file=sys.stderr)
            return 1
        return desktop.main(lambda _program, arts, _rest: test(root, arts), [root, artefacts])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
