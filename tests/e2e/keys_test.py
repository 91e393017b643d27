#!/usr/bin/env python3
"""SPACE and ESC drive the real clock: start, pause, continue and reset, seen as the user sees them.

The running time is read from the caption of the minimised window ("Kestrim - MM:SS"); whether the digits
are live or greyed is read from the pixels of the normal window.
"""

import os
import sys
import time

import screen
from desktop import Desktop, check, conf_path, main, read_conf, wait_for


def test(program, artefacts, _options):
    with Desktop("keys", program, artefacts) as desktop:
        home = desktop.new_config_home("keys")
        kestrim = desktop.start_kestrim(home)
        kestrim.wait_main_window()
        kestrim.activate()

        # Ready: stage 1's digits, greyed.
        ready = screen.wait_digits(desktop, kestrim, "greyed digits in the ready state",
                                   lambda c: screen.greyed_pixels(c) > screen.MIN_DIGIT_PIXELS, save_as="ready.png")
        check(screen.count(ready, screen.GREEN) == 0, "digits are green before the clock was started")
        ready_band = screen.band_pixels(desktop, kestrim)

        # SPACE starts: the digits take stage 1's green.
        started = time.monotonic()
        kestrim.key("space")
        running = screen.wait_digits(desktop, kestrim, "green digits once SPACE started the clock",
                                     lambda c: screen.count(c, screen.GREEN) > screen.MIN_DIGIT_PIXELS,
                                     save_as="running.png")
        check(screen.greyed_pixels(running) < screen.MIN_DIGIT_PIXELS // 4, "digits still greyed while running")

        # Minimised, the caption counts: 00:03 about three seconds after the start, never before.
        kestrim.minimise()
        kestrim.wait_caption(lambda t: t >= 3, "the caption to reach 00:03", timeout=8)
        seen_three = time.monotonic() - started
        check(seen_three >= 2.9, f"the caption showed 3 s after only {seen_three:.2f} s")
        check(seen_three <= 5.5, f"the caption showed 3 s only after {seen_three:.2f} s")

        # SPACE pauses: the time stands still, however long we wait.
        kestrim.key("space")
        time.sleep(0.3)
        paused_at = kestrim.caption_time()
        check(paused_at is not None and paused_at >= 3, f'no time in the caption after pausing: "{kestrim.title()}"')
        kestrim.caption_still(2.5)
        # F4 without Alt and other keys do nothing, not even wake the clock.
        kestrim.key("F4", "a", "Return")
        kestrim.caption_still(1.2)
        check(kestrim.alive(), "the program ended on F4 without Alt")

        # ESC continues from the paused time: the next second shown is the one after it.
        kestrim.key("Escape")
        continued = time.monotonic()
        next_shown = kestrim.wait_caption(lambda t: t != paused_at, "the clock to continue after ESC", timeout=4)
        check(next_shown == paused_at + 1,
              f"after ESC the caption went from {paused_at} s to {next_shown} s: the pause was not left out")
        check(time.monotonic() - continued <= 2.5, "the first second after ESC took more than 2.5 s")
        kestrim.wait_caption(lambda t: t >= paused_at + 2, "the clock to go on counting")

        # ESC also pauses; SPACE while paused resets to 00:00 and the clock stays in Ready.
        kestrim.key("Escape")
        time.sleep(0.3)
        kestrim.caption_still(1.2)
        kestrim.key("space")
        kestrim.wait_caption(lambda t: t == 0, "the caption to read 00:00 after the reset")
        check(kestrim.caption_still(1.5) == "Kestrim - 00:00", "the clock counted after the reset")

        # Shown again: plain caption and greyed digits in stage 1's colours. The digits still read what they
        # read when the window was minimised (a minimised window's read-out goes to its caption only) until
        # the next command writes them, which is why the reset's 00 00 is checked on the shown window below.
        kestrim.activate()
        wait_for('the plain caption "Kestrim" after restoring', lambda: kestrim.title() == "Kestrim")
        restored = screen.wait_digits(desktop, kestrim, "greyed digits after restoring",
                                      lambda c: screen.greyed_pixels(c) > screen.MIN_DIGIT_PIXELS, save_as="restored.png")
        check(screen.count(restored, screen.GREEN) == 0, "green digits in the ready state after restoring")

        # ESC in Ready starts the clock just as SPACE does; the digits change every second.
        kestrim.key("Escape")
        screen.wait_digits(desktop, kestrim, "green digits once ESC started the clock",
                           lambda c: screen.count(c, screen.GREEN) > screen.MIN_DIGIT_PIXELS)
        first = screen.band_pixels(desktop, kestrim)
        wait_for("the digits to change while running", lambda: screen.band_pixels(desktop, kestrim) != first,
                 timeout=4)

        # SPACE pauses: the digits grey and stop changing.
        kestrim.key("space")
        screen.wait_digits(desktop, kestrim, "greyed digits after pausing",
                           lambda c: screen.greyed_pixels(c) > screen.MIN_DIGIT_PIXELS
                           and screen.count(c, screen.GREEN) == 0, save_as="paused.png")
        held = screen.band_pixels(desktop, kestrim)
        time.sleep(1.5)
        check(screen.band_pixels(desktop, kestrim) == held, "the digits changed while paused")

        # SPACE while paused resets: the same greyed 00 00 in stage 1's colours as at start-up.
        kestrim.key("space")
        wait_for("the digit band to look as it did at start-up",
                 lambda: screen.band_pixels(desktop, kestrim, "reset.png") == ready_band)

        # Nothing of the clock is stored, and the placement only on quitting.
        check(not os.path.exists(conf_path(home)), "the program wrote its store while running")

        # Alt+F4 to the minimised window: the window manager cannot take it, the program must.
        kestrim.minimise()
        kestrim.alt_f4()
        code = kestrim.wait_exit()
        check(code == 0, f"the program ended with {code} after Alt+F4")
        expected = {"State": "1", "FullScreen": "False", "OnTop": "False", "Audience": ""}
        check(read_conf(home) == {"Window": expected},
              f"closing minimised from an empty store should write only [Window] {expected}: {read_conf(home)}")


if __name__ == "__main__":
    sys.exit(main(test))
