#pragma once
// Drawing a range of a sheet as a spreadsheet shows it on screen.
#include "spreadsheet/model.h"

#include <QImage>

namespace ss {

struct RenderOptions {
    double dpi = 96.0;               // 96: one pixel per 15 twips
    bool gridlines = true;           // drawn only when the sheet also shows them
};

// The pixel size the range takes: column widths from character units of the workbook's default
// font (font 0), row heights in twips.
QSize renderedSize(const Workbook& wb, int sheetIndex, const RangeAddress& range, const RenderOptions& opt = {});

// The most pixels one picture may hold (64 megapixels, 256 MB as 32-bit pixels).
constexpr qint64 kMaxPicturePixels = qint64(64) * 1024 * 1024;

// The range as an image of exactly renderedSize(): fills, borders, fonts, alignment, number formats.
// Throws ss::LimitError, before allocating anything, when the picture would hold more than
// kMaxPicturePixels; returns a null image for a range outside the sheet.
QImage renderRange(const Workbook& wb, int sheetIndex, const RangeAddress& range, const RenderOptions& opt = {});

} // namespace ss
