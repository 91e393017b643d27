#pragma once

#include <QSizeF>

// Twips (1/1440 inch) to device-independent pixels and back, with the screen's logical DPI: 15 twips a
// pixel at 96 DPI. The layouts of the windows are given in twips; Qt places widgets in whole pixels.
namespace Units {

// Twips per pixel of the primary screen (15 when there is no screen).
double twipsPerPixel();

// Twips to whole pixels, rounded to nearest.
int toPixels(double twips);

// Whole pixels to twips, as a 32-bit float.
float toTwips(int pixels);

} // namespace Units
