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
QString picturePath() { return ScratchPath(QString::fromLatin1(kPictureFileName)); }

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

// Puts things back the way the user left them after a failure that ends the generation.
void abandon(GenerationHost& host)
{
    quietlyQuit(ExcelApp);
    ReleaseExcel();
    DeleteScratchFile(picturePath());
    DeleteScratchFile(templatePath());
    try {
        host.setPointer(Pointer::Default);
    } catch (...) {
    }
    try {
        host.freezeDrawing(false);
    } catch (...) {
    }
}

// The template's column of an input column: 2 name, 3 IND. %, then every second column from D.
int sheetColumn(int inputColumn) { return inputColumn < 2 ? inputColumn + 2 : 2 * (inputColumn - 1) + 2; }

} // namespace

bool isSkippedRow(int row)
{
    return QString::fromLatin1(skipRows).contains(QLatin1Char('-') + QString::number(row));
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

bool GenerateWorkbook(GenerationHost& host)
{
    Guard g("Form1", "PushButton22_Click");

    g.step(100, [&] { host.freezeDrawing(true); });
    const int firstRow = kFirstLineRow;   // 102
    const int lastRow = kLastLineRow;     // 104
    int line = 0;                         // 106
    const QString rowsToSkip = QString::fromLatin1(skipRows);
    g.step(108, [&] { host.setPointer(Pointer::Hourglass); });

    // Without an application, a template file or the opened template every later step fails:
    // report the cause once and give the inputs back.
    if (!g.step(110, [&] { StartExcel(); })) {
        abandon(host);
        return false;
    }
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
    if (!templateReady
        || !g.step(116, [&] { TemplateBook = ExcelApp->Workbooks().Open(templatePath(), true); })) {
        abandon(host);
        return false;
    }

    g.step(118, [&] { ExcelApp->Worksheets(1).Cells(2, 11) = host.companyName(); });
    g.step(120, [&] { ExcelApp->Worksheets(1).Cells(2, 18) = host.fiscalStart(); });
    for (int row = firstRow; row <= lastRow; ++row) {   // 122
        if (rowsToSkip.contains(QLatin1Char('-') + QString::number(row)))   // 124
            continue;
        for (int column = 0; column < 14; ++column) {
            g.step(126 + 2 * column, [&] {
                ExcelApp->Worksheets(1).Cells(row, sheetColumn(column)) = host.cellText(line, column);
            });
        }
        ++line;   // 154
    }
    g.step(156, [&] { ExcelApp->Range(QStringLiteral("B2")).Select(); });
    g.step(158, [&] { ExcelApp->Visible(false); });

    // A fresh name no file has; the digits come from the process-wide generator, which is
    // seeded once from the system's entropy.
    QString name;
    bool named = g.step(174, [&] {
        constexpr int kDraws = 100000;
        for (int draw = 0; draw < kDraws; ++draw) {
            const QString candidate = ScratchPath(drawWorkbookName());
            if (!FileExists(candidate)) {
                name = candidate;
                return;
            }
        }
        throw StepError(QStringLiteral("No free name for the workbook in \"%1\"").arg(ScratchFolder()));
    });
    if (!named || !g.step(176, [&] { TemplateBook.SaveAs(name, XlsFileFormat(ExcelApp)); })) {
        abandon(host);
        return false;
    }
    g.step(178, [&] { ExcelApp->DisplayAlerts(false); });
    g.step(180, [&] { TemplateBook.Close(); });
    g.step(182, [&] { ExcelApp->Quit(); });
    g.step(184, [&] { ReleaseExcel(); });

    std::shared_ptr<Application> second;
    g.step(186, [&] { second = OpenWorkbookInNewExcel(name); });
    g.step(188, [&] { host.setPointer(Pointer::Hourglass); });
    // Without the second application there is nothing to photograph; the saved workbook is
    // still handed over.
    if (second) {
        Workbook secondBook;
        g.step(190, [&] { secondBook = second->Workbooks()(second->Workbooks().count()); });
        g.step(192, [&] { saveCellsActivesheet(secondBook, picturePath()); });
        g.step(194, [&] { second->DisplayAlerts(false); });
        g.step(196, [&] { secondBook.Close(); });
        g.step(198, [&] { second->Quit(); });
        second.reset();
    }
    g.step(200, [&] { host.setPointer(Pointer::Default); });
    g.step(202, [&] { host.loadPreviewPicture(picturePath()); });
    g.step(204, [&] { host.setPreviewExcelFile(name); });
    g.step(206, [&] { host.showPreview(); });
    g.step(208, [&] { host.hideMain(); });
    g.step(210, [&] { DeleteScratchFile(picturePath()); });
    g.step(212, [&] { DeleteScratchFile(templatePath()); });
    g.step(214, [&] { host.freezeDrawing(false); });
    return true;
}

} // namespace corvantis
