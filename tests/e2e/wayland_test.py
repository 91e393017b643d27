#!/usr/bin/env python3
"""On a Wayland desktop: which connection the program takes, and what it stores there.

Offered both a Wayland and an X11 display, it runs through X11 (XWayland), where its place can be kept.
Told to use Wayland, it does, and leaves the stored Left and Top alone (Wayland never says where a window
is), while the size and state are still stored.
"""

import os
import signal
import subprocess
import sys
import tempfile

from desktop import START_TIMEOUT, Weston, check, main, read_conf, wait_for, write_conf


def platform_plugin(pid):
    """The Qt platform plugin the process has loaded: "xcb", "wayland" or None while it has none yet."""
    with open(f"/proc/{pid}/maps", encoding="utf-8", errors="replace") as f:
        maps = f.read()
    if "libqxcb.so" in maps:
        return "xcb"
    if "libqwayland-" in maps:
        return "wayland"
    return None


def run(weston, program, artefacts, label, config_home, extra_env=None, until=None):
    """Starts the program, waits for its platform plugin and for `until(log)`, ends it with SIGTERM (as a
    logout does) and returns (plugin, log)."""
    env = dict(weston.env, XDG_CONFIG_HOME=config_home, **(extra_env or {}))
    log_path = os.path.join(artefacts, label + ".stderr")
    with open(log_path, "wb") as log:
        proc = subprocess.Popen([program], env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
    try:
        def read_log():
            with open(log_path, encoding="utf-8", errors="replace") as f:
                return f.read()

        def loaded():
            check(proc.poll() is None, f"the program ended with {proc.returncode}: {read_log()[-2000:]}")
            return platform_plugin(proc.pid)

        plugin = wait_for("a platform plugin", loaded, timeout=START_TIMEOUT)
        if until:
            wait_for(f"the program's window ({label})", lambda: until(read_log()), timeout=START_TIMEOUT)
        proc.send_signal(signal.SIGTERM)
        code = proc.wait(timeout=10)
        check(code == 0, f"{label}: the program ended with {code} on SIGTERM: {read_log()[-2000:]}")
        return plugin, read_log()
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def test(program, artefacts, _options):
    with Weston("wayland", artefacts) as weston, tempfile.TemporaryDirectory(prefix="kestrim-wl-") as homes:
        # Both displays offered, no choice of the user's: X11.
        home = os.path.join(homes, "chosen")
        def x_window_shown(_log):
            tree = subprocess.run(["xwininfo", "-root", "-tree"], env=weston.env, capture_output=True, text=True)
            return '"Kestrim"' in tree.stdout

        plugin, _ = run(weston, program, artefacts, "both-displays", home, until=x_window_shown)
        check(plugin == "xcb", f"with WAYLAND_DISPLAY and DISPLAY set the program used {plugin}, not xcb")
        window = read_conf(home).get("Window", {})
        check({"State", "Left", "Top", "Width", "Height"} <= window.keys(), f"[Window] written as {window}")

        # The user's choice, Wayland: taken; the stored position stays, size and state are written.
        home = os.path.join(homes, "wayland")
        write_conf(home, "[Window]\nState=0\nLeft=5805\nTop=4680\nWidth=9000\nHeight=7500\n")
        plugin, log = run(weston, program, artefacts, "native-wayland", home,
                          {"QT_QPA_PLATFORM": "wayland", "WAYLAND_DEBUG": "client"},
                          # Qt draws the frame itself there; the stored outer size is the frame's, once it is drawn.
                          until=lambda text: "set_window_geometry(0, 0, 600, 500)" in text)
        check(plugin == "wayland", f"with QT_QPA_PLATFORM=wayland the program used {plugin}")
        check('set_title("Kestrim")' in log, "the window's caption was not the plain title while Ready")
        window = read_conf(home).get("Window", {})
        check(window.get("Left") == "5805" and window.get("Top") == "4680",
              f"on Wayland the stored position changed: {window}")
        check(window.get("State") == "0" and window.get("Width") and window.get("Height"),
              f"on Wayland the state and size were not stored: {window}")
        # Not grown by the frame Qt drew around it: the next start opens at the same size.
        check((window.get("Width"), window.get("Height")) == ("9000", "7500"), f"size stored as {window}")


if __name__ == "__main__":
    sys.exit(main(test))
