#include "workbook/workbookexport.h"

#include "core/guard.h"
#include "core/safefile.h"
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/render/render.h"
#include "spreadsheet/xls.h"
#include "spreadsheet/xlsx_write.h"

#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QLocale>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>

#include <algorithm>
#include <exception>
#include <functional>

namespace corvantis {

namespace {

constexpr double kScreenDpi = 96.0;
// The margins a spreadsheet prints with when the sheet names none: 3/4 inch left and right,
// one inch top and bottom.
constexpr double kMarginSide = 0.75;
constexpr double kMarginTopBottom = 1.0;

ss::Workbook loadWorkbook(const QString& xlsPath)
{
    try {
        return ss::xls::load(QFile::encodeName(xlsPath).toStdString());
    } catch (const std::exception& e) {
        throw StepError(QStringLiteral("The workbook \"%1\" cannot be read: %2").arg(xlsPath, QString::fromUtf8(e.what())));
    }
}

int printedSheet(const ss::Workbook& wb)
{
    if (wb.sheets.empty())
        throw StepError(QStringLiteral("The workbook has no worksheet to print"));
    return std::clamp(wb.activeSheet, 0, static_cast<int>(wb.sheets.size()) - 1);
}

// The rows of the sheet's Print_Titles name: a local built-in name over whole rows.
std::optional<std::pair<int, int>> printTitleRows(const ss::Workbook& wb, int sheetIndex)
{
    for (const ss::DefinedName& n : wb.names) {
        if (!n.builtin || n.name.size() != 1 || n.name[0] != '\x07' || n.sheetIndex != sheetIndex + 1)
            continue;
        const ss::formula::Dependencies deps = ss::formula::dependencies(n.formula);
        for (const auto& cells : deps.cells) {
            if (cells.range.firstCol == 0 && cells.range.lastCol >= ss::kMaxCols - 1)
                return std::make_pair(cells.range.firstRow, cells.range.lastRow);
        }
    }
    return std::nullopt;
}

// Numbers on paper carry the user's decimal and group marks, as the preview shows them; the
// workbook's number formats themselves stay as they are.
ss::RenderOptions regionalOptions()
{
    const QLocale loc;
    ss::RenderOptions options;
    options.decimalSeparator = loc.decimalPoint().toStdString();
    options.groupSeparator = loc.groupSeparator().toStdString();
    return options;
}

int columnWidth(const ss::Workbook& wb, int sheet, int col)
{
    return ss::renderedSize(wb, sheet, {0, col, 0, col}, regionalOptions()).width();
}

int rowHeight(const ss::Workbook& wb, int sheet, int row)
{
    return ss::renderedSize(wb, sheet, {row, 0, row, 0}, regionalOptions()).height();
}

// The company (cell K2 of the projection) and what the document is, for a PDF's title and a
// print job's name; the scratch workbook's random name means nothing to anyone.
QString documentTitle(const ss::Workbook& wb, int sheet)
{
    const QString what = QStringLiteral("Profit and Loss Projection");
    const ss::Cell* company = wb.sheets[static_cast<std::size_t>(sheet)].find(1, 10);
    const QString name = company && company->value.isText() ? QString::fromStdString(company->value.text()).simplified() : QString();
    return name.isEmpty() ? what : name + QStringLiteral(" - ") + what;
}

// Paints the sheet into a PDF written whole or not at all at `target`, laid out as `layout`.
void writePdf(const ss::Workbook& wb, int sheet, const QString& target, const std::optional<QPageLayout>& layout)
{
    SafeFile out(target);
    {
        QPdfWriter writer(&out.device());
        writer.setCreator(QStringLiteral("Corvantis"));
        writer.setTitle(documentTitle(wb, sheet));
        writer.setResolution(1200);
        if (layout)
            writer.setPageLayout(*layout);
        else
            applyPageSetup(wb.sheets[static_cast<std::size_t>(sheet)], writer);
        QPainter painter;
        if (!painter.begin(&writer))
            throw WriteError(SafeFile::failureText(target, QStringLiteral("the PDF cannot be started")));
        paintPages(wb, sheet, writer, painter);
        painter.end();
    }
    out.commit();
}

// Cuts first..last into runs whose sizes (scaled) fit `room`; every run takes at least one line.
std::vector<std::pair<int, int>> cut(int first, int last, double room, double scale, const std::function<int(int)>& size,
                                     double firstRoom)
{
    std::vector<std::pair<int, int>> runs;
    int start = first;
    double used = 0;
    double limit = firstRoom;
    for (int i = first; i <= last; ++i) {
        const double s = size(i) * scale;
        if (i > start && used + s > limit + 1e-6) {
            runs.emplace_back(start, i - 1);
            start = i;
            used = 0;
            limit = room;
        }
        used += s;
    }
    runs.emplace_back(start, last);
    return runs;
}

QPageSize pageSizeOf(std::uint16_t paperSize)
{
    switch (paperSize) {
    case 5: return QPageSize(QPageSize::Legal);
    case 8: return QPageSize(QPageSize::A3);
    case 9: return QPageSize(QPageSize::A4);
    case 11: return QPageSize(QPageSize::A5);
    case 3: return QPageSize(QPageSize::Tabloid);
    case 7: return QPageSize(QPageSize::Executive);
    default: return QPageSize(QPageSize::Letter);
    }
}

} // namespace

std::optional<ExportFormat> exportFormatFor(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("xls"))
        return ExportFormat::Xls;
    if (suffix == QLatin1String("xlsx"))
        return ExportFormat::Xlsx;
    if (suffix == QLatin1String("pdf"))
        return ExportFormat::Pdf;
    return std::nullopt;
}

void ExportWorkbook(const QString& xlsPath, const QString& target, ExportFormat format)
{
    switch (format) {
    case ExportFormat::Xls: {
        QFile source(xlsPath);
        if (!source.open(QIODevice::ReadOnly))
            throw StepError(QStringLiteral("The workbook \"%1\" cannot be read: %2").arg(xlsPath, source.errorString()));
        writeWholeFile(target, source.readAll());
        return;
    }
    case ExportFormat::Xlsx: SaveAsXlsx(xlsPath, target); return;
    case ExportFormat::Pdf: ExportPdf(xlsPath, target); return;
    }
}

void SaveAsXlsx(const QString& xlsPath, const QString& target)
{
    const ss::Workbook wb = loadWorkbook(xlsPath);
    std::vector<std::uint8_t> bytes;
    try {
        // The package names its writer: the program, as it calls itself.
        const ss::xlsx::Producer producer{QCoreApplication::applicationName().toStdString(),
                                          QCoreApplication::applicationVersion().toStdString()};
        bytes = ss::xlsx::writeFile(wb, producer);
    } catch (const std::exception& e) {
        throw StepError(QString::fromUtf8(e.what()));
    }
    writeWholeFile(target, QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
}

void ExportPdf(const QString& xlsPath, const QString& target)
{
    const ss::Workbook wb = loadWorkbook(xlsPath);
    writePdf(wb, printedSheet(wb), target, std::nullopt);
}

QImage SheetImage(const QString& xlsPath)
{
    const ss::Workbook wb = loadWorkbook(xlsPath);
    const int sheet = printedSheet(wb);
    const auto used = wb.sheets[static_cast<std::size_t>(sheet)].usedRange();
    if (!used)
        throw StepError(QStringLiteral("The sheet is empty"));
    try {
        return ss::renderRange(wb, sheet, *used, regionalOptions());
    } catch (const std::exception& e) {
        throw StepError(QString::fromUtf8(e.what()));
    }
}

void PreparePrinter(const QString& xlsPath, QPrinter& printer)
{
    const ss::Workbook wb = loadWorkbook(xlsPath);
    const int sheet = printedSheet(wb);
    applyPageSetup(wb.sheets[static_cast<std::size_t>(sheet)], printer);
    printer.setDocName(documentTitle(wb, sheet));
}

void PrintWorkbook(const QString& xlsPath, QPrinter& printer)
{
    const ss::Workbook wb = loadWorkbook(xlsPath);
    const int sheet = printedSheet(wb);
    // Printing to a file is a PDF like any other the program writes: whole or not at all.
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        writePdf(wb, sheet, printer.outputFileName(), printer.pageLayout());
        return;
    }
    QPainter painter;
    if (!painter.begin(&printer))
        throw StepError(QStringLiteral("The printer cannot be started"));
    paintPages(wb, sheet, printer, painter);
    painter.end();
}

void applyPageSetup(const ss::Sheet& sheet, QPagedPaintDevice& device)
{
    const QPageLayout layout(pageSizeOf(sheet.page.paperSize),
                             sheet.page.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                             QMarginsF(kMarginSide, kMarginTopBottom, kMarginSide, kMarginTopBottom), QPageLayout::Inch);
    device.setPageLayout(layout);
}

PagePlan planPages(const ss::Workbook& wb, int sheetIndex, const QSizeF& printable)
{
    PagePlan plan;
    const ss::Sheet& sheet = wb.sheets[static_cast<std::size_t>(sheetIndex)];
    const ss::RangeAddress area = sheet.usedRange().value_or(ss::RangeAddress{});
    auto colW = [&](int c) { return columnWidth(wb, sheetIndex, c); };
    auto rowH = [&](int r) { return rowHeight(wb, sheetIndex, r); };

    double totalW = 0, totalH = 0;
    for (int c = area.firstCol; c <= area.lastCol; ++c)
        totalW += colW(c);
    for (int r = area.firstRow; r <= area.lastRow; ++r)
        totalH += rowH(r);

    const ss::PageSetup& page = sheet.page;
    if (page.fitToPage) {
        // Fit to so many pages across and down; 0 leaves that direction free. Never enlarged.
        double scale = 1.0;
        if (page.fitWidth > 0 && totalW > 0)
            scale = std::min(scale, printable.width() * page.fitWidth / totalW);
        if (page.fitHeight > 0 && totalH > 0)
            scale = std::min(scale, printable.height() * page.fitHeight / totalH);
        plan.scale = std::max(0.1, scale);
    } else {
        plan.scale = std::clamp(page.scale, std::uint16_t(10), std::uint16_t(400)) / 100.0;
    }

    plan.titleRows = printTitleRows(wb, sheetIndex);
    double titleH = 0;
    if (plan.titleRows) {
        for (int r = plan.titleRows->first; r <= plan.titleRows->second; ++r)
            titleH += rowH(r) * plan.scale;
        if (titleH >= printable.height() / 2)   // titles that leave no room are not repeated
            plan.titleRows.reset();
    }

    const auto columns = cut(area.firstCol, area.lastCol, printable.width(), plan.scale, colW, printable.width());
    // Pages after the first repeat the title rows, which take room from the body; so does the
    // first page when its rows begin below the titles.
    const bool firstHasTitles = plan.titleRows && area.firstRow > plan.titleRows->second;
    const double rest = printable.height() - (plan.titleRows ? titleH : 0);
    auto rows = cut(area.firstRow, area.lastRow, rest, plan.scale, rowH, firstHasTitles ? rest : printable.height());
    for (const auto& [r1, r2] : rows)
        for (const auto& [c1, c2] : columns)
            plan.pages.push_back({r1, c1, r2, c2});
    return plan;
}

int paintPages(const ss::Workbook& wb, int sheetIndex, QPagedPaintDevice& device, QPainter& painter)
{
    const double dpiX = device.logicalDpiX(), dpiY = device.logicalDpiY();
    const QSizeF printable(device.width() * kScreenDpi / dpiX, device.height() * kScreenDpi / dpiY);
    const PagePlan plan = planPages(wb, sheetIndex, printable);
    int count = 0;
    for (const ss::RangeAddress& body : plan.pages) {
        if (count > 0 && !device.newPage())
            throw StepError(QStringLiteral("A new page cannot be started"));
        painter.save();
        painter.scale(dpiX / kScreenDpi * plan.scale, dpiY / kScreenDpi * plan.scale);
        if (plan.titleRows && body.firstRow > plan.titleRows->second) {
            const ss::RangeAddress titles{plan.titleRows->first, body.firstCol, plan.titleRows->second, body.lastCol};
            ss::paintRange(painter, wb, sheetIndex, titles, regionalOptions());
            painter.translate(0, ss::renderedSize(wb, sheetIndex, titles, regionalOptions()).height());
        }
        ss::paintRange(painter, wb, sheetIndex, body, regionalOptions());
        painter.restore();
        ++count;
    }
    return count;
}

} // namespace corvantis
