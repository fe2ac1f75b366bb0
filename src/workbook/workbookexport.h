#pragma once
// The generated workbook in the other forms people send and keep: an Excel 97-2003 copy, an
// Office Open XML workbook (.xlsx), a PDF drawn by the sheet renderer, and a printout. The
// command line and the preview window both go through here.
//
// Every file is written whole or not at all through corvantis::SafeFile, so a failure never
// leaves a partial file behind nor touches the file it would replace. Failures throw
// corvantis::StepError with a text meant for the user.
#include "spreadsheet/model.h"

#include <QImage>
#include <QSizeF>
#include <QString>

#include <optional>
#include <vector>

class QPagedPaintDevice;
class QPainter;
class QPrinter;

namespace corvantis {

enum class ExportFormat { Xls, Xlsx, Pdf };

// The format a file name asks for by its extension (case ignored); nullopt for any other.
std::optional<ExportFormat> exportFormatFor(const QString& path);

// Writes the workbook file `xlsPath` (as generation saves it) to `target` in `format`.
void ExportWorkbook(const QString& xlsPath, const QString& target, ExportFormat format);
void SaveAsXlsx(const QString& xlsPath, const QString& target);
void ExportPdf(const QString& xlsPath, const QString& target);

// The picture of the sheet's used range as the screen shows it (for the clipboard).
QImage SheetImage(const QString& xlsPath);

// Gives the printer the sheet's page setup (orientation, paper) before its dialog is shown.
void PreparePrinter(const QString& xlsPath, QPrinter& printer);
// Prints the workbook's sheet on a printer the user has set up.
void PrintWorkbook(const QString& xlsPath, QPrinter& printer);

// --- page layout, shared by the PDF and the printer ---

// How the printed sheet falls onto pages: the sheet's print area (its used range), cut into
// pages at the scale its page setup asks for, with the print-title rows on top of each page
// that does not begin with them.
struct PagePlan {
    double scale = 1.0;                     // printed size / screen size
    std::optional<std::pair<int, int>> titleRows;   // 0-based, inclusive
    std::vector<ss::RangeAddress> pages;    // body of each page, across first, then down
};
// `printable` is the printable area of one page in screen pixels (96 per inch).
PagePlan planPages(const ss::Workbook& wb, int sheetIndex, const QSizeF& printable);
// Paints the sheet's pages onto the device (a PDF writer or a printer) through `painter`, which
// is already begun on it; returns the number of pages.
int paintPages(const ss::Workbook& wb, int sheetIndex, QPagedPaintDevice& device, QPainter& painter);
// The layout (paper, orientation, margins) the sheet's page setup gives.
void applyPageSetup(const ss::Sheet& sheet, QPagedPaintDevice& device);

} // namespace corvantis
