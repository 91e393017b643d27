#!/usr/bin/env python3
"""Short stages from the store change the colours of the digits on screen as the clock runs through them.

Stage 1 (3 s) keeps its built-in green on black, stage 2 (3 s) its yellow on black; stage 3 gets colours
from the store that are each other's red/blue mirror, so reading 0x00BBGGRR the wrong way round shows
as azure on orange turned into orange on azure.
"""

import sys
import time

import screen
from desktop import Desktop, check, main, write_conf

ORANGE = (255, 128, 0)  # stored 0x000080FF = 33023
AZURE = (0, 128, 255)  # stored 0x00FF8000 = 16744448

# Long enough that a loaded machine still takes a few screenshots within the first stage.
STAGE_SECONDS = 3

STORE = f"""[Stages]
Seconds1={STAGE_SECONDS}
Seconds2={STAGE_SECONDS}
BackColor3=33023
ForeColor3=16744448
"""


def test(program, artefacts, _options):
    with Desktop("colours", program, artefacts) as desktop:
        home = desktop.new_config_home("colours")
        write_conf(home, STORE)
        kestrim = desktop.start_kestrim(home)
        kestrim.wait_main_window()
        kestrim.activate()
        screen.wait_digits(desktop, kestrim, "the ready window",
                           lambda c: screen.greyed_pixels(c) > screen.MIN_DIGIT_PIXELS)

        kestrim.key("space")
        started = time.monotonic()
        stage1 = screen.wait_digits(desktop, kestrim, "green digits of stage 1",
                                    lambda c: screen.count(c, screen.GREEN) > screen.MIN_DIGIT_PIXELS,
                                    timeout=STAGE_SECONDS - 0.2, save_as="stage1.png")
        check(screen.count(stage1, screen.YELLOW) == 0, "yellow digits during stage 1")
        check(screen.count(stage1, screen.BLACK) > 4 * screen.MIN_DIGIT_PIXELS, "stage 1's background is not black")

        stage2 = screen.wait_digits(desktop, kestrim, "yellow digits of stage 2",
                                    lambda c: screen.count(c, screen.YELLOW) > screen.MIN_DIGIT_PIXELS,
                                    timeout=STAGE_SECONDS + 4, save_as="stage2.png")
        entered = time.monotonic() - started
        check(entered >= STAGE_SECONDS - 0.1,
              f"stage 2's colours after only {entered:.2f} s of a {STAGE_SECONDS} s stage 1")
        check(screen.count(stage2, screen.GREEN) == 0, "green digits left in stage 2")
        check(screen.count(stage2, screen.BLACK) > 4 * screen.MIN_DIGIT_PIXELS, "stage 2's background is not black")

        stage3 = screen.wait_digits(desktop, kestrim, "azure digits on orange of stage 3",
                                    # The background covers far more than the digits: a swap of
                                    # back and fore, or of red and blue, turns the proportion round.
                                    lambda c: screen.count(c, AZURE) > screen.MIN_DIGIT_PIXELS
                                    and screen.count(c, ORANGE) > 2 * screen.count(c, AZURE),
                                    timeout=STAGE_SECONDS + 4, save_as="stage3.png")
        entered = time.monotonic() - started
        check(entered >= 2 * STAGE_SECONDS - 0.1, f"stage 3's colours after only {entered:.2f} s")
        check(screen.count(stage3, screen.YELLOW) == 0, "yellow digits left in stage 3")

        kestrim.alt_f4()
        check(kestrim.wait_exit() == 0, "Alt+F4 did not end the program")


if __name__ == "__main__":
    sys.exit(main(test))
