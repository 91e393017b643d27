#!/usr/bin/env python3
"""Every way of closing the window stores its placement, and the next start puts it back to the pixel.

Closing: Alt+F4 as the window manager sees it (openbox binds it to Close), Alt+F4 delivered to the
program itself, and a click on the close box of the frame. Maximised and minimised windows reopen so.
"""

import sys
import time

from desktop import TWIPS_PER_PIXEL, Desktop, check, fatal_unless, main, read_conf, wait_for, write_conf

CREATED_CLIENT = (499, 366)  # 7485 x 5490 twips


def close_button(kestrim):
    """Screen point of the close box in openbox's title bar (layout "NLIMC": close is rightmost)."""
    x, y, width, _ = kestrim.frame_geometry()
    _, right, top, _ = kestrim.frame_extents()
    return x + width - right - top // 2, y + top // 2


def maximise_button(kestrim):
    bx, by = close_button(kestrim)
    return bx - 16, by


def click(desktop, point):
    # Not "mousemove --sync": it waits for a motion that never comes when the pointer is already there.
    desktop.xdotool("mousemove", str(point[0]), str(point[1]))
    wait_for(f"the pointer to reach {point}",
             lambda: desktop.xdotool("getmouselocation", "--shell").split()[:2] == [f"X={point[0]}", f"Y={point[1]}"])
    desktop.xdotool("click", "1")


def stored_frame(config_home):
    window = read_conf(config_home).get("Window", {})
    check(window, "no section [Window] was written")
    return window


def expect_frame_stored(config_home, frame, state="0"):
    window = stored_frame(config_home)
    check(window.get("State") == state, f"[Window] State is {window.get('State')!r}, expected {state}")
    want = dict(zip(("Left", "Top", "Width", "Height"), (str(v * TWIPS_PER_PIXEL) for v in frame)))
    got = {k: window.get(k) for k in want}
    check(got == want, f"[Window] holds {got}, the frame on screen was {frame} pixels, i.e. {want}")


def settle(kestrim):
    """Waits until the window's geometry holds still, so that what we compare is what the user has."""
    kestrim.settled_geometry(interval=0.3)


def place(desktop, kestrim, x, y, width, height):
    window = str(kestrim.window)
    desktop.xdotool("windowmove", "--sync", window, str(x), str(y))
    desktop.xdotool("windowsize", "--sync", window, str(width), str(height))
    wait_for("the window to take its new size", lambda: kestrim.client_geometry()[2:] == (width, height))
    settle(kestrim)


def restart(desktop, config_home, label, visible=True, extra_env=None):
    kestrim = desktop.start_kestrim(config_home, label, extra_env)
    if visible:
        kestrim.wait_main_window()
        settle(kestrim)
    return kestrim


def test(program, artefacts, _options):
    with Desktop("placement", program, artefacts) as desktop:
        home = desktop.new_config_home("placement")
        sw, sh = desktop.screen

        # First start, empty store: the window's size at creation, centred on the screen.
        kestrim = restart(desktop, home, "first")
        check(kestrim.client_geometry()[2:] == CREATED_CLIENT,
              f"client area {kestrim.client_geometry()[2:]} at first start, expected {CREATED_CLIENT}")
        fx, fy, fw, fh = kestrim.frame_geometry()
        left, right, top, bottom = kestrim.frame_extents()
        # Centred to within half the frame's own borders, whichever of frame or client was centred.
        check(abs(fx - (sw - fw) / 2) <= (left + right) / 2 + 1 and abs(fy - (sh - fh) / 2) <= (top + bottom) / 2 + 1,
              f"first start not centred: frame {(fx, fy, fw, fh)} on a {sw}x{sh} screen")

        closers = [
            ("Alt+F4 (taken by the window manager)", lambda k: k.alt_f4()),
            ("the close box", lambda k: (k.activate(), click(desktop, close_button(k)))),
        ]
        spots = [(100, 80, 600, 450), (37, 211, 533, 301)]
        for (how, close), spot in zip(closers, spots):
            place(desktop, kestrim, *spot)
            frame = kestrim.frame_geometry()
            client = kestrim.client_geometry()
            xdotool_view = desktop.xdotool("getwindowgeometry", str(kestrim.window))
            close(kestrim)
            code = kestrim.wait_exit()
            check(code == 0, f"closing with {how}: the program ended with {code}")
            expect_frame_stored(home, frame)

            kestrim = restart(desktop, home, "after-" + how.split()[0].lower())
            check(kestrim.client_geometry() == client and kestrim.frame_geometry() == frame,
                  f"after closing with {how} the window came back at client {kestrim.client_geometry()}, "
                  f"frame {kestrim.frame_geometry()}; it was closed at client {client}, frame {frame}")
            check(desktop.xdotool("getwindowgeometry", str(kestrim.window)).split("\n")[1:] ==
                  xdotool_view.split("\n")[1:], "xdotool sees another geometry after the restart")
        desktop.screenshot("restored.png")

        # Maximised by the frame's button, closed by the close box: reopens maximised, and the stored
        # normal frame is still the one of the last normal close.
        normal_frame = kestrim.frame_geometry()
        kestrim.activate()
        click(desktop, maximise_button(kestrim))
        wait_for("the window to be maximised", kestrim.is_maximised)
        settle(kestrim)
        maximised = kestrim.client_geometry()
        check(maximised[2] > sw * 0.9, f"maximised window is only {maximised[2]} wide")
        kestrim.activate()
        click(desktop, close_button(kestrim))
        check(kestrim.wait_exit() == 0, "closing the maximised window failed")
        expect_frame_stored(home, normal_frame, state="2")

        kestrim = restart(desktop, home, "maximised")
        wait_for("the window to reopen maximised", kestrim.is_maximised)
        settle(kestrim)
        check(kestrim.client_geometry() == maximised,
              f"reopened maximised at {kestrim.client_geometry()}, was {maximised}")
        desktop.screenshot("maximised.png")

        # Minimised and closed by Alt+F4, which then reaches the program and not the window manager:
        # reopens minimised, and the normal frame stays the one stored before.
        kestrim.minimise()
        kestrim.alt_f4()
        check(kestrim.wait_exit() == 0, "Alt+F4 on the minimised window did not end the program")
        expect_frame_stored(home, normal_frame, state="1")

        kestrim = restart(desktop, home, "minimised", visible=False)

        def reopened_minimised():
            fatal_unless(kestrim.alive(), f"the program ended: {kestrim.log()}")
            for w in desktop.windows_of(kestrim.pid, "^Kestrim", visible=False):
                kestrim.window = w
                if kestrim.is_minimised():
                    return True
            return False

        wait_for("the window to reopen minimised", reopened_minimised)
        check(not desktop.windows_of(kestrim.pid, "^Kestrim"), "a window of the program is visible")
        kestrim.activate()
        wait_for('the plain caption "Kestrim" once restored', lambda: kestrim.title() == "Kestrim")
        time.sleep(0.3)
        desktop.screenshot("from-minimised.png")
        kestrim.alt_f4()
        check(kestrim.wait_exit() == 0, "Alt+F4 after restoring failed")

        # A place on a screen that is gone (the projector's side) and a top no screen can show: the window
        # opens on this screen at its stored size, centred, and quitting stores where it really was.
        write_conf(home, "[Window]\nState=0\nLeft=30000\nTop=1e30\nWidth=9000\nHeight=7500\n")
        kestrim = restart(desktop, home, "off-screen")
        fx, fy, fw, fh = kestrim.frame_geometry()
        check((fw, fh) == (600, 500), f"opened with frame {(fw, fh)}, stored 600x500")
        check(0 <= fx and 0 <= fy and fx + fw <= sw and fy + fh <= sh,
              f"opened at {(fx, fy, fw, fh)}, not wholly on the {sw}x{sh} screen")
        check(abs(fx - (sw - fw) // 2) <= 1 and abs(fy - (sh - fh) // 2) <= 1, f"not centred: {(fx, fy)}")
        desktop.screenshot("off-screen-mended.png")
        frame = kestrim.frame_geometry()
        kestrim.alt_f4()
        check(kestrim.wait_exit() == 0, "Alt+F4 after the mended start failed")
        expect_frame_stored(home, frame)

    # Twice the scale: the created size in device pixels, pictures drawn at 32 px, and the same place after
    # every restart.
    with Desktop("placement-hidpi", program, artefacts, screen=(2048, 1536)) as desktop:
        home = desktop.new_config_home("hidpi")
        scale = {"QT_SCALE_FACTOR": "2"}
        frames, stored = [], []
        for run in range(4):
            kestrim = restart(desktop, home, f"hidpi-{run}", extra_env=scale)
            if run == 0:
                client = kestrim.client_geometry()[2:]
                check(client == (998, 732), f"client {client} device pixels at scale 2, expected 998x732")
                check_play_picture(desktop, kestrim, 32)
            frames.append(kestrim.frame_geometry())
            kestrim.alt_f4()
            check(kestrim.wait_exit() == 0, "Alt+F4 at scale 2 failed")
            stored.append(stored_frame(home))
        check(len(set(frames[1:])) == 1, f"at scale 2 the window moved between restarts: {frames}")
        check(all(s == stored[0] for s in stored), f"at scale 2 the stored place changed: {stored}")
        # Stored in twips of the scaled pixels: half the device pixels, to within the frame's rounding.
        want = [v * TWIPS_PER_PIXEL / 2 for v in frames[-1]]
        got = [float(stored[-1][k]) for k in ("Left", "Top", "Width", "Height")]
        check(all(abs(g - w) <= TWIPS_PER_PIXEL for g, w in zip(got, want)), f"stored {got}, frame was {want}")


def check_play_picture(desktop, kestrim, size):
    """The play triangle at the toolbar's left is drawn `size` pixels high, solid: a real rendering at that
    size (the picture spans 12/16 of its box), not a small one blown up."""
    x, y, _, _ = kestrim.client_geometry()
    shot = desktop.screenshot("hidpi-toolbar.png")
    # The first button only: below the toolbar, at about 1.6 times the picture size, the digits begin.
    dark = [(px, py) for py in range(y, y + size * 3 // 2) for px in range(x, x + size * 3 // 2)
            if max(shot.pixel(px, py)) < 60]
    check(dark, "no play picture at the toolbar's left")
    height = max(p[1] for p in dark) - min(p[1] for p in dark) + 1
    check(abs(height - size * 12 // 16) <= 2, f"the play picture is {height} pixels high, expected {size * 12 // 16}")


if __name__ == "__main__":
    sys.exit(main(test))
