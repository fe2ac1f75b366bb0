#include "workbook/templatefilling.h"

#include "core/files.h"
#include "core/guard.h"
#include "workbook/excellifecycle.h"
#include "workbook/sheetpicture.h"

#include <QFile>
#include <QRandomGenerator>

// The template's resource sits in a static library: without this reference the linker would
// leave it out of the program.
static void initTemplateResource()
{
    static bool done = false;
    if (!done) {
        Q_INIT_RESOURCE(template);
        done = true;
    }
}

namespace corvantis {

namespace {

QString templatePath() { return ScratchPath(QString::fromLatin1(kTemplateFileName)); }

QByteArray templateBytes()
{
    initTemplateResource();
    QFile resource(QString::fromLatin1(kTemplateResource));
    if (!resource.open(QIODevice::ReadOnly))
        throw StepError(QStringLiteral("The projection template is missing from the program"));
    const QByteArray bytes = resource.readAll();
    if (bytes.isEmpty())
        throw StepError(QStringLiteral("The projection template in the program is empty"));
    return bytes;
}

// Quits an application without letting a failure out: used only while giving up.
void quietlyQuit(const std::shared_ptr<Application>& app)
{
    if (!app || app->hasQuit())
        return;
    try {
        app->DisplayAlerts(false);
        app->Quit();
    } catch (...) {
    }
}

// The template's column of an input column: 2 name, 3 IND. %, then every second column from D.
int sheetColumn(int inputColumn) { return inputColumn < 2 ? inputColumn + 2 : 2 * (inputColumn - 1) + 2; }

// The columns widen where the values need it, as a spreadsheet's AutoFit would: the widest amount
// the sheet accepts, its totals and percentages show whole instead of "###" on screen, on paper
// and in other spreadsheet programs, and a long company name ends before "Fiscal Year Begins".
// Where the values fit, the template's widths stay.
void fitColumnsToValues()
{
    const Worksheet sheet = ExcelApp->Worksheets(1);
    sheet.Range(QStringLiteral("C5:AC50")).Columns().AutoFit();
    sheet.Range(QStringLiteral("K2")).Columns().AutoFit();
}

} // namespace

bool isSkippedRow(int row)
{
    return QString::fromLatin1(skipRows).contains(QLatin1Char('-') + QString::number(row));
}

const std::array<int, kLineCount>& lineRows()
{
    static const std::array<int, kLineCount> rows = [] {
        std::array<int, kLineCount> r{};
        std::size_t line = 0;
        for (int row = kFirstLineRow; row <= kLastLineRow && line < r.size(); ++row)
            if (!isSkippedRow(row))
                r[line++] = row;
        return r;
    }();
    return rows;
}

namespace {
QRandomGenerator*& nameGenerator()
{
    static QRandomGenerator* generator = nullptr;
    return generator;
}
} // namespace

void setNameGenerator(QRandomGenerator* generator) { nameGenerator() = generator; }

QString drawWorkbookName()
{
    QRandomGenerator* random = nameGenerator() ? nameGenerator() : QRandomGenerator::global();
    QString name = QStringLiteral("tolvek");
    for (int k = 0; k < 8; ++k)
        name += QChar(u'0' + random->bounded(1, 10));
    return name + QStringLiteral(".xls");
}

QString ProjectionRun::picturePath() { return ScratchPath(QString::fromLatin1(kPictureFileName)); }

// Puts the scratch folder and the applications back the way they were after a failure that
// ends the generation.
bool ProjectionRun::abandon(int step)
{
    quietlyQuit(ExcelApp);
    ReleaseExcel();
    DeleteScratchFile(picturePath());
    DeleteScratchFile(templatePath());
    mFailedStep = step;
    return false;
}

bool ProjectionRun::fillAndSave(const ProjectionInputs& inputs)
{
    Guard& g = mGuard;
    mFailedStep = 0;
    mWorkbookPath.clear();

    // Without an application, a template file or the opened template every later step fails:
    // report the cause once and give up.
    if (!g.step(110, [&] { StartExcel(); }))
        return abandon(110);
    QByteArray bytes;
    g.step(112, [&] { bytes = templateBytes(); });
    bool templateReady = false;
    g.step(114, [&] {
        if (FileExists(templatePath())) {
            templateReady = true;   // left from an earlier run: used as it is
            return;
        }
        if (bytes.isEmpty())
            return;                 // step 112 has said why
        WriteBytesToFile(bytes, templatePath());
        templateReady = true;
    });
    if (!templateReady)
        return abandon(bytes.isEmpty() ? 112 : 114);
    if (!g.step(116, [&] { TemplateBook = ExcelApp->Workbooks().Open(templatePath(), true); }))
        return abandon(116);

    g.step(118, [&] { ExcelApp->Worksheets(1).Cells(2, 11) = inputs.companyName; });
    if (inputs.fiscalStart.isValid())   // a date that could not be read has been reported
        g.step(120, [&] { ExcelApp->Worksheets(1).Cells(2, 18) = inputs.fiscalStart; });
    for (int line = 0; line < kLineCount; ++line) {
        const int row = lineRows()[static_cast<std::size_t>(line)];
        for (int column = 0; column < kColumnCount; ++column) {
            g.step(126 + 2 * column, [&] {
                ExcelApp->Worksheets(1).Cells(row, sheetColumn(column)) = inputs.cell(line, column);
            });
        }
    }
    g.step(155, [&] { fitColumnsToValues(); });
    preparePictureMemory();
    g.step(156, [&] { ExcelApp->Range(QStringLiteral("B2")).Select(); });
    g.step(158, [&] { ExcelApp->Visible(false); });

    // A fresh name no file has; the digits come from the process-wide generator, which is
    // seeded once from the system's entropy.
    QString name;
    if (!g.step(174, [&] {
            constexpr int kDraws = 100000;
            for (int draw = 0; draw < kDraws; ++draw) {
                const QString candidate = ScratchPath(drawWorkbookName());
                if (!FileExists(candidate)) {
                    name = candidate;
                    return;
                }
            }
            throw StepError(QStringLiteral("No free name for the workbook in \"%1\"").arg(ScratchFolder()));
        }))
        return abandon(174);
    if (!g.step(176, [&] { TemplateBook.SaveAs(name, XlsFileFormat(ExcelApp)); }))
        return abandon(176);
    g.step(178, [&] { ExcelApp->DisplayAlerts(false); });
    g.step(180, [&] { TemplateBook.Close(); });
    g.step(182, [&] { ExcelApp->Quit(); });
    g.step(184, [&] { ReleaseExcel(); });
    mWorkbookPath = name;
    return true;
}

// The sheet now has the size its picture will have: the memory of that picture is cleared on the
// other core while this one saves the workbook and opens it again. Only a head start: without
// it the picture is made as it always is.
void ProjectionRun::preparePictureMemory()
{
    if (!ExcelApp)
        return;
    try {
        mPictureMemory.prepare(ExcelApp->Worksheets(1).UsedRange().PictureSize(), QImage::Format_RGB32, 1);
    } catch (...) {
    }
}

void ProjectionRun::takePicture()
{
    Guard& g = mGuard;
    std::shared_ptr<Application> second;
    g.step(186, [&] { second = OpenWorkbookInNewExcel(mWorkbookPath); });
    // Without the second application there is nothing to photograph; the saved workbook is
    // still there.
    if (!second)
        return;
    Workbook secondBook;
    g.step(190, [&] { secondBook = second->Workbooks()(second->Workbooks().count()); });
    g.step(192, [&] { saveCellsActivesheet(secondBook, picturePath()); });
    g.step(194, [&] { second->DisplayAlerts(false); });
    g.step(196, [&] { secondBook.Close(); });
    g.step(198, [&] { second->Quit(); });
}

void ProjectionRun::removeScratchFiles()
{
    mGuard.step(210, [&] { DeleteScratchFile(picturePath()); });
    mGuard.step(212, [&] { DeleteScratchFile(templatePath()); });
}

} // namespace corvantis
