#pragma once
// Window geometry is designed in twips (1440 per inch); at 96 dots per inch a pixel is 15 twips.
// Qt scales pixels for high-DPI screens itself, so this is the one conversion the program needs.
#include <QRect>

namespace corvantis {

inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips) { return twips / kTwipsPerPixel; }
constexpr int pixelsToTwips(int pixels) { return pixels * kTwipsPerPixel; }
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

} // namespace corvantis
