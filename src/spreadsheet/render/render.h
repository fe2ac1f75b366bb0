#pragma once
// Drawing a range of a sheet as a spreadsheet shows it on screen.
#include "spreadsheet/model.h"

#include <QImage>
#include <QString>

#include <string>

class QPainter;

namespace ss {

struct RenderOptions {
    double dpi = 96.0;               // 96: one pixel per 15 twips
    bool gridlines = true;           // drawn only when the sheet also shows them
    // The marks numbers are drawn with, the reader's regional settings, as a spreadsheet program
    // shows a workbook ("12.500,5" under German settings); the number formats keep "." and ",".
    std::string decimalSeparator = ".";
    std::string groupSeparator = ",";
    // A large picture is drawn in horizontal bands, taken in turn by one thread per processor (up
    // to two); the pixels are the same as drawn whole. 0 chooses by the picture's size, 1 draws
    // it whole.
    int bands = 0;
};

// The family a workbook's font is drawn in: the named one where the system has it, else its
// metric-compatible stand-in (Liberation Sans for Arial, ...), so widths stay as the workbook
// expects.
QString fontFamilyFor(const std::string& name);

// How many pixels wide column `col` of `sheet` is drawn when the default font's digit is
// `digitWidth` pixels: its stored width in 1/256 of a digit, or the sheet's default width.
int columnPixels(const Sheet& sheet, int col, int digitWidth);

// The pixel size the range takes: column widths from character units of the workbook's default
// font (font 0), row heights in twips.
QSize renderedSize(const Workbook& wb, int sheetIndex, const RangeAddress& range, const RenderOptions& opt = {});

// The most pixels one picture may hold (64 megapixels, 256 MB as 32-bit pixels).
constexpr qint64 kMaxPicturePixels = qint64(64) * 1024 * 1024;

// Paints the range onto any painter (a picture, a PDF page, a printer) with its top-left corner at
// the painter's origin, one unit per pixel at opt.dpi; the painter's transform scales it. The
// background is the caller's. Nothing is painted for a range outside the sheet.
void paintRange(QPainter& painter, const Workbook& wb, int sheetIndex, const RangeAddress& range, const RenderOptions& opt = {});

// The range as an image of exactly renderedSize(): fills, borders, fonts, alignment, number formats.
// Throws ss::LimitError, before allocating anything, when the picture would hold more than
// kMaxPicturePixels; returns a null image for a range outside the sheet.
QImage renderRange(const Workbook& wb, int sheetIndex, const RangeAddress& range, const RenderOptions& opt = {});

} // namespace ss
