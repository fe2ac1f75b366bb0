// The projection beyond the .xls: the built program, with a seeded settings store and no display,
// writes .xls, .xlsx and .pdf with `--generate`. LibreOffice, Gnumeric and openpyxl read every
// value and every formula of the .xlsx as the engine reads them from the .xls, and the PDF's
// text holds every total, gross profit and net profit as the sheet shows them.
//
// Values: texts exactly, numbers within 1e-9 relative, date cells as the same day whether a
// reader writes a serial or a date text. Formulas: the same text as the engine's, without '='
// and blanks, compared case-insensitively (readers write function names in upper case anyway).
#include "core/projectioninputs.h"
#include "core/settingsstore.h"
#include "spreadsheet/address.h"
#include "spreadsheet/datetime.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/model.h"
#include "spreadsheet/numfmt.h"
#include "spreadsheet/xls.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kLastRow = 49;   // row 50
constexpr int kFirstCol = 1;   // B
constexpr int kLastCol = 28;   // AC
const QString kTitle = QStringLiteral("Twelve-month profit and loss projection");

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

Run run(const QString& program, const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
        int timeoutMs = 150000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForStarted(10000))
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// A CSV grid, aligned so that the title lands in B2 whatever corner the exporter starts at.
using Grid = std::map<std::pair<int, int>, QString>;

Grid parseCsv(const QByteArray& bytes)
{
    Grid cells;
    const QString text = QString::fromUtf8(bytes);
    int row = 0, col = 0;
    QString field;
    bool quoted = false, any = false;
    auto flush = [&] {
        if (!field.isEmpty())
            cells[{row, col}] = field;
        field.clear();
        any = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (quoted) {
            if (ch == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (ch == u'"') {
                quoted = false;
            } else {
                field += ch;
            }
        } else if (ch == u'"') {
            quoted = true;
            any = true;
        } else if (ch == u',') {
            flush();
            ++col;
        } else if (ch == u'\n') {
            flush();
            ++row;
            col = 0;
        } else if (ch != u'\r') {
            field += ch;
            any = true;
        }
    }
    if (any)
        flush();
    Grid placed;
    std::pair<int, int> title{-1, -1};
    for (const auto& [at, v] : cells)
        if (v == kTitle)
            title = at;
    if (title.first < 0)
        return {};
    for (const auto& [at, v] : cells)
        placed[{at.first - title.first + 1, at.second - title.second + 1}] = v;
    return placed;
}

// The day a reader's date text names, as a serial; nullopt when it is no date text.
std::optional<double> dateSerial(const QString& text)
{
    for (const char* format : {"yyyy-MM-dd", "M/d/yyyy", "MM/dd/yyyy", "M/d/yy", "dd.MM.yyyy", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm:ss"}) {
        QDate d = QDate::fromString(text, QString::fromLatin1(format));
        if (!d.isValid()) {
            const QDateTime dt = QDateTime::fromString(text, QString::fromLatin1(format));
            if (dt.isValid())
                d = dt.date();
        }
        if (d.isValid()) {
            if (d.year() < 1950)
                d = d.addYears(100);
            return static_cast<double>(QDate(1899, 12, 30).daysTo(d));
        }
    }
    return std::nullopt;
}

// Compares a reader's text of one cell with the engine's value; empty when they agree.
QString differs(const ss::Workbook& wb, const ss::Cell* cell, const QString& read)
{
    if (!cell || cell->value.isBlank())
        return read.isEmpty() ? QString() : QStringLiteral("blank, read \"%1\"").arg(read);
    const ss::Value& v = cell->value;
    if (v.isText())
        return QString::fromStdString(v.text()) == read ? QString()
                                                        : QStringLiteral("\"%1\", read \"%2\"").arg(QString::fromStdString(v.text()), read);
    if (v.isNumber()) {
        bool ok = false;
        double got = read.toDouble(&ok);
        const std::string code = wb.formatCode(wb.xfs[cell->xf].formatIndex);
        if (!ok && ss::isDateFormat(code)) {
            if (auto serial = dateSerial(read)) {
                got = *serial;
                ok = std::floor(v.number()) == got;
                return ok ? QString() : QStringLiteral("day %1, read \"%2\"").arg(v.number()).arg(read);
            }
        }
        if (ok && std::abs(got - v.number()) <= 1e-9 * std::max(1.0, std::abs(v.number())))
            return {};
        return QStringLiteral("%1, read \"%2\"").arg(v.number(), 0, 'g', 17).arg(read);
    }
    return {};
}

QString plainFormula(QString text)
{
    if (text.startsWith(u'='))
        text.remove(0, 1);
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text.toUpper();
}

const char* const kOpenpyxlDump = R"(
import json, sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
values = openpyxl.load_workbook(sys.argv[1], data_only=True)
sheet, shown = book.active, values.active
out = {"title": sheet.title, "print_titles": sheet.print_title_rows, "freeze": sheet.freeze_panes,
       "gridlines": sheet.sheet_view.showGridLines, "orientation": sheet.page_setup.orientation,
       "fit": bool(sheet.sheet_properties.pageSetUpPr and sheet.sheet_properties.pageSetUpPr.fitToPage),
       "width_B": sheet.column_dimensions["B"].width, "height_2": sheet.row_dimensions[2].height, "cells": {}}
for row in sheet.iter_rows(min_row=1, max_row=50, min_col=2, max_col=29):
    for c in row:
        v = shown[c.coordinate].value
        if hasattr(v, "isoformat"):
            v = v.date().isoformat()
        f = c.value if isinstance(c.value, str) and c.value.startswith("=") else None
        out["cells"][c.coordinate] = {"value": v, "formula": f, "format": c.number_format,
                                      "bold": bool(c.font.b), "size": c.font.sz}
print(json.dumps(out))
)";

class TestExports : public QObject {
    Q_OBJECT

private:
    QTemporaryDir mDir;
    QString mProgram;
    QString mXls, mXlsx, mPdf;
    ss::Workbook mBook;
    const ss::Sheet* mSheet = nullptr;

    const ss::Cell* cell(int row, int col) const { return mSheet->find(row, col); }

    // The engine's formula text of a cell, or empty for a constant.
    QString formulaOf(int row, int col) const
    {
        const ss::Cell* c = cell(row, col);
        if (!c || !c->isFormula())
            return {};
        return QString::fromStdString(ss::formula::decompile(c->formula, c->formulaData, row, col, {}));
    }

    void compareValues(const Grid& grid, const char* reader)
    {
        QVERIFY2(!grid.empty(), reader);
        QStringList wrong;
        for (int r = 0; r <= kLastRow; ++r)
            for (int c = kFirstCol; c <= kLastCol; ++c) {
                const auto it = grid.find({r, c});
                const QString why = differs(mBook, cell(r, c), it == grid.end() ? QString() : it->second);
                if (!why.isEmpty())
                    wrong << QString::fromStdString(ss::cellAddress(r, c)) + ": " + why;
            }
        QVERIFY2(wrong.isEmpty(), qPrintable(QString::fromLatin1(reader) + ": " + wrong.mid(0, 8).join(QStringLiteral("; "))));
    }

    void compareFormulas(const std::function<QString(int, int)>& readFormula, const char* reader)
    {
        QStringList wrong;
        int formulas = 0;
        for (int r = 0; r <= kLastRow; ++r)
            for (int c = kFirstCol; c <= kLastCol; ++c) {
                const QString want = plainFormula(formulaOf(r, c));
                const QString got = plainFormula(readFormula(r, c));
                formulas += !want.isEmpty();
                if (want != got)
                    wrong << QStringLiteral("%1: %2 / %3").arg(QString::fromStdString(ss::cellAddress(r, c)), want, got);
            }
        QVERIFY(formulas > 300);
        QVERIFY2(wrong.isEmpty(), qPrintable(QString::fromLatin1(reader) + ": " + wrong.mid(0, 8).join(QStringLiteral("; "))));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(mDir.isValid());
        mProgram = qEnvironmentVariable("CORVANTIS_BIN_DIR") + QStringLiteral("/corvantis");
        QVERIFY2(QFile::exists(mProgram), qPrintable(mProgram));

        // The store as the main window leaves it: company, start date, names and amounts.
        QDir(mDir.path()).mkpath(QStringLiteral("config/Kestrelon"));
        QDir(mDir.path()).mkpath(QStringLiteral("temp"));
        {
            corvantis::SettingsStore store(mDir.filePath(QStringLiteral("config/Kestrelon/Corvantis.ini")));
            corvantis::SettingsStore::Batch batch(store);
            store.save(QStringLiteral("txtCompanyName"), QStringLiteral("Harbour & Sons <Ltd>"));
            store.save(QStringLiteral("DTPicker1"), QStringLiteral("2025-11-15"));
            for (int line = 0; line < 33; ++line) {
                store.save(corvantis::cellSettingKey(QStringLiteral("txtRevenue"), line), QStringLiteral("Line %1 R&D \"east\", <west>").arg(line));
                store.save(corvantis::cellSettingKey(QStringLiteral("txtInd"), line), QString::number(line % 7));
                for (int m = 1; m <= 12; ++m) {
                    // Revenue large, costs and expenses smaller, a few negatives and cents.
                    const double base = line < 7 ? 5000 : line < 14 ? 1800 : 240;
                    double amount = base + 37.25 * m + 11 * line;
                    if ((line + m) % 11 == 0)
                        amount = -amount / 4;
                    if (line == 9 && m == 3)
                        amount = 0;
                    const QString key = corvantis::cellSettingKey(m == 1 ? QStringLiteral("txtYear1") : QStringLiteral("txtYear%1").arg(m), line);
                    store.save(key, QString::number(amount, 'f', 2));
                }
            }
        }

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), mDir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("TEMP"), mDir.filePath(QStringLiteral("temp")));
        mXls = mDir.filePath(QStringLiteral("projection.xls"));
        mXlsx = mDir.filePath(QStringLiteral("projection.xlsx"));
        mPdf = mDir.filePath(QStringLiteral("projection.pdf"));
        for (const QString& target : {mXls, mXlsx, mPdf}) {
            const Run r = run(mProgram, {QStringLiteral("--generate"), target}, env);
            QVERIFY2(r.exitCode == 0, qPrintable(target + ": " + QString::fromLocal8Bit(r.err)));
            QVERIFY2(r.err.isEmpty(), r.err.constData());
            QVERIFY(QFile::exists(target));
        }
        // Nothing is left in the scratch folder.
        QCOMPARE(QDir(mDir.filePath(QStringLiteral("temp"))).entryList(QDir::Files), QStringList());

        mBook = ss::xls::load(QFile::encodeName(mXls).toStdString());
        QCOMPARE(mBook.sheets.size(), std::size_t(1));
        mSheet = &mBook.sheets[0];
        // The inputs arrived: company, the 15 November start, a revenue amount.
        QCOMPARE(QString::fromStdString(cell(1, 10)->value.text()), QStringLiteral("Harbour & Sons <Ltd>"));
        QCOMPARE(cell(1, 17)->value.number(), 45976.0);
        QVERIFY(cell(12, 27)->value.isNumber() && cell(12, 27)->value.number() > 300000);
    }

    void openpyxlReadsValuesFormulasAndLayout()
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
        if (python.isEmpty() || run(python, {QStringLiteral("-c"), QStringLiteral("import openpyxl")}).exitCode != 0)
            QSKIP("python3-openpyxl is not installed");
        const Run r = run(python, {QStringLiteral("-c"), QString::fromLatin1(kOpenpyxlDump), mXlsx});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const QJsonObject dump = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(dump[QStringLiteral("title")].toString(), QStringLiteral("PnL projection"));
        QCOMPARE(dump[QStringLiteral("print_titles")].toString(), QStringLiteral("$4:$4"));
        QCOMPARE(dump[QStringLiteral("freeze")].toString(), QStringLiteral("C6"));
        QCOMPARE(dump[QStringLiteral("gridlines")].toBool(), false);
        QCOMPARE(dump[QStringLiteral("orientation")].toString(), QStringLiteral("landscape"));
        QVERIFY(dump[QStringLiteral("fit")].toBool());
        QVERIFY(std::abs(dump[QStringLiteral("width_B")].toDouble() - 20.14) < 0.01);
        QCOMPARE(dump[QStringLiteral("height_2")].toDouble(), 24.0);

        const QJsonObject cells = dump[QStringLiteral("cells")].toObject();
        auto at = [&](int r, int c) { return cells[QString::fromStdString(ss::cellAddress(r, c))].toObject(); };
        Grid values;
        for (int r = 0; r <= kLastRow; ++r)
            for (int c = kFirstCol; c <= kLastCol; ++c) {
                const QJsonValue v = at(r, c)[QStringLiteral("value")];
                if (v.isDouble())
                    values[{r, c}] = QString::number(v.toDouble(), 'g', 17);
                else if (v.isString())
                    values[{r, c}] = v.toString();
            }
        compareValues(values, "openpyxl");
        compareFormulas([&](int r, int c) { return at(r, c)[QStringLiteral("formula")].toString(); }, "openpyxl");
        // Number formats and fonts as the template has them.
        QCOMPARE(at(12, 27)[QStringLiteral("format")].toString(), QStringLiteral("#,##0"));
        QCOMPARE(at(12, 4)[QStringLiteral("format")].toString(), QStringLiteral("0.0"));
        QCOMPARE(at(1, 17)[QStringLiteral("format")].toString(), QStringLiteral("mmm-yy"));
        QCOMPARE(at(1, 1)[QStringLiteral("size")].toDouble(), 18.0);
        QVERIFY(at(1, 10)[QStringLiteral("bold")].toBool());
    }

    void libreOfficeReadsValuesAndFormulas()
    {
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty())
            QSKIP("soffice (LibreOffice) is not installed");
        auto csv = [&](bool formulas) {
            const QString outDir = mDir.filePath(formulas ? QStringLiteral("lo-formulas") : QStringLiteral("lo-values"));
            const QString filter = QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,%1,false")
                                       .arg(formulas ? QStringLiteral("true") : QStringLiteral("false"));
            const Run r = run(soffice, {QStringLiteral("--headless"),
                                        QStringLiteral("-env:UserInstallation=file://") + mDir.filePath(QStringLiteral("lo-profile")),
                                        QStringLiteral("--convert-to"), filter, QStringLiteral("--outdir"), outDir, mXlsx});
            QFile f(outDir + QStringLiteral("/projection.csv"));
            if (r.exitCode != 0 || !f.open(QIODevice::ReadOnly))
                return Grid{};
            return parseCsv(f.readAll());
        };
        const Grid values = csv(false);
        compareValues(values, "LibreOffice");
        const Grid formulas = csv(true);
        QVERIFY(!formulas.empty());
        compareFormulas(
            [&](int r, int c) {
                const auto it = formulas.find({r, c});
                return it != formulas.end() && it->second.startsWith(u'=') ? it->second : QString();
            },
            "LibreOffice");
    }

    void gnumericReadsValuesAndFormulas()
    {
        const QString ssconvert = QStandardPaths::findExecutable(QStringLiteral("ssconvert"));
        if (ssconvert.isEmpty())
            QSKIP("ssconvert (Gnumeric) is not installed");
        const QString csvPath = mDir.filePath(QStringLiteral("gnumeric.csv"));
        Run r = run(ssconvert, {QStringLiteral("--export-type=Gnumeric_stf:stf_assistant"), QStringLiteral("-O"),
                                QStringLiteral("format=raw separator=,"), mXlsx, csvPath});
        QFile f(csvPath);
        QVERIFY2(r.exitCode == 0 && f.open(QIODevice::ReadOnly), r.err.constData());
        compareValues(parseCsv(f.readAll()), "Gnumeric");

        // Gnumeric's formulas: what it writes back as Excel 97-2003, read by the engine.
        const QString again = mDir.filePath(QStringLiteral("gnumeric.xls"));
        r = run(ssconvert, {QStringLiteral("--export-type=Gnumeric_Excel:excel_biff8"), mXlsx, again});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const ss::Workbook back = ss::xls::load(QFile::encodeName(again).toStdString());
        QVERIFY(!back.sheets.empty());
        const ss::Sheet& sheet = back.sheets[0];
        compareFormulas(
            [&](int row, int col) {
                const ss::Cell* c = sheet.find(row, col);
                if (!c || !c->isFormula())
                    return QString();
                return QString::fromStdString(ss::formula::decompile(c->formula, c->formulaData, row, col, {}));
            },
            "Gnumeric");
    }

    void pdfTextHoldsTotalsGrossAndNetProfit()
    {
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        const Run r = run(pdftotext, {QStringLiteral("-layout"), mPdf, QStringLiteral("-")});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const QString text = QString::fromUtf8(r.out);
        const QStringList words = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        QVERIFY(text.contains(kTitle));
        QVERIFY(text.contains(QStringLiteral("Harbour & Sons <Ltd>")));
        QVERIFY(text.contains(QStringLiteral("Net Profit")));
        // Every total, gross and net profit, month by month and for the year, as the sheet shows it.
        QStringList missing;
        for (int row1 : {13, 23, 25, 47, 49}) {
            for (int c = 3; c <= 27; c += 2) {
                const ss::Cell* cl = cell(row1 - 1, c);
                QVERIFY(cl && cl->value.isNumber());
                const std::string code = mBook.formatCode(mBook.xfs[cl->xf].formatIndex);
                const QString shown = QString::fromStdString(ss::formatValue(cl->value, code).text);
                if (!words.contains(shown))
                    missing << QString::fromStdString(ss::cellAddress(row1 - 1, c)) + "=" + shown;
            }
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
        // One landscape Letter page, as the page setup asks (fit to one page).
        const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
        if (!pdfinfo.isEmpty()) {
            const QString info = QString::fromUtf8(run(pdfinfo, {mPdf}).out);
            QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))), qPrintable(info));
            QVERIFY2(info.contains(QStringLiteral("792 x 612")), qPrintable(info));
        }
    }
};

} // namespace

QTEST_GUILESS_MAIN(TestExports)
#include "test_exports.moc"
