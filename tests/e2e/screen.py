"""What the digits look like on screen, read from real pixels of the main window."""

from desktop import Failure, check, wait_for

GREEN = (0, 255, 0)
YELLOW = (255, 255, 0)
BLACK = (0, 0, 0)

# A digit of the smallest window the tests use still paints several thousand solid pixels; the toolbar
# pictures and the anti-aliased information text paint a few dozen at most.
MIN_DIGIT_PIXELS = 1500


def digit_band(kestrim):
    """The part of the client area that holds the digits: below the toolbar, above the status bar, read
    once the window is mapped, on the screen and holds still."""
    x, y, width, height = kestrim.settled_geometry()
    top = y + height * 15 // 100
    return x, top, width, height * 70 // 100


def colours_in_band(desktop, kestrim, save_as=None):
    band = digit_band(kestrim)
    return desktop.screenshot(save_as).solid_colours(*band)


def greyed_pixels(colours):
    # Disabled digits are drawn in a neutral grey; the window's own face colour is lighter than this
    # range, the black digit background darker.
    return sum(n for (r, g, b), n in colours.items() if r == g == b and 64 <= r <= 224)


def count(colours, colour):
    return colours.get(colour, 0)


def describe(colours):
    top = sorted(colours.items(), key=lambda kv: -kv[1])[:6]
    return ", ".join(f"{c}: {n}" for c, n in top)


def wait_digits(desktop, kestrim, what, predicate, timeout=10.0, save_as=None):
    """Takes screenshots until predicate(colours) holds; returns those colours."""
    seen = {}

    def probe():
        seen["colours"] = colours_in_band(desktop, kestrim, save_as)
        return seen["colours"] if predicate(seen["colours"]) else None

    try:
        return wait_for(what, probe, timeout=timeout, interval=0.2)
    except Failure as failure:
        raise Failure(f"{failure}; colours on screen: {describe(seen.get('colours', {}))}") from None


def band_pixels(desktop, kestrim, save_as=None):
    """The raw pixels of the digit band, to tell whether anything in it changed."""
    x, y, width, height = digit_band(kestrim)
    image = desktop.screenshot(save_as)
    check(x >= 0 and y >= 0 and x + width <= image.width and y + height <= image.height,
          "the main window is not wholly on the screen")
    rows = [image.rgb[((y + r) * image.width + x) * 3 : ((y + r) * image.width + x + width) * 3] for r in range(height)]
    return b"".join(rows)
