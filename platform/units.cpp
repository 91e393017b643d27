#include "platform/units.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace Units {

double twipsPerPixel()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}

int toPixels(double twips)
{
    const double pixels = std::round(twips / twipsPerPixel());
    // Layout arithmetic never comes near the int range; clamp so a wild value cannot be undefined behaviour.
    if (!(pixels > -1.0e9))
        return -1000000000;
    if (pixels > 1.0e9)
        return 1000000000;
    return static_cast<int>(pixels);
}

float toTwips(int pixels)
{
    return static_cast<float>(pixels * twipsPerPixel());
}

} // namespace Units
