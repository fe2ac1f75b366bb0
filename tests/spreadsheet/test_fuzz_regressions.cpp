// Inputs the fuzz targets once crashed on, kept in tests/data/fuzz/<target>/ and fed to the same
// entry points the targets call, with what each input must give now.
#include "core/errorreport.h"
#include "core/guard.h"
#include "spreadsheet/calc.h"
#include "spreadsheet/cfb.h"
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/numfmt.h"
#include "spreadsheet/textinput.h"
#include "spreadsheet/xls.h"
#include "core/numbertext.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QtTest>

#include <cmath>
#include <span>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

QDir dataDir(const char* target)
{
    return QDir(qEnvironmentVariable("CORVANTIS_SOURCE_DIR") + QStringLiteral("/tests/data/fuzz/")
                + QLatin1String(target));
}

Bytes readBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    return Bytes(b.begin(), b.end());
}

// One data row per saved input of a target; the row name is the file name.
void addInputs(const char* target)
{
    QTest::addColumn<QString>("path");
    const QDir dir = dataDir(target);
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    QVERIFY2(!files.isEmpty(), qPrintable(QStringLiteral("no saved inputs in ") + dir.path()));
    for (const QString& name : files)
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

ss::formula::Context numberedCells()
{
    ss::formula::Context ctx;
    ctx.cell = [](int row, int col) { return ss::Value(static_cast<double>(row * 256 + col)); };
    ctx.now = [] { return 46000.5; };
    return ctx;
}

std::string_view asText(const Bytes& b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }

} // namespace

class TestFuzzRegressions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(dataDir("xls").exists(), "CORVANTIS_SOURCE_DIR must name the source tree");
    }

    // ---------------------------------------------------------------- whole files

    void xlsInputsLoadOrFailCleanly_data() { addInputs("xls"); }
    void xlsInputsLoadOrFailCleanly()
    {
        QFETCH(QString, path);
        const Bytes bytes = readBytes(path);
        QVERIFY(!bytes.empty());
        ss::Workbook wb;
        try {
            wb = ss::xls::readFile(bytes);
        } catch (const ss::FormatError&) {
            return;
        }
        ss::recalculate(wb);
        if (wb.sheets.empty()) {
            // Nothing to save: the writer says so instead of writing a workbook no one can open.
            QVERIFY_THROWS_EXCEPTION(ss::FormatError, ss::xls::writeFile(wb));
            return;
        }
        const ss::Workbook again = ss::xls::readFile(ss::xls::writeFile(wb));
        QCOMPARE(again.sheets.size(), wb.sheets.size());
    }

    void roadInputsKeepTheirFormulas_data() { addInputs("road"); }
    void roadInputsKeepTheirFormulas()
    {
        // Saved and read again, every cell has the formula (tokens and constants) it had; a
        // shared formula without tokens used to leave its constants on a cell that had none.
        QFETCH(QString, path);
        ss::Workbook wb = ss::xls::readFile(readBytes(path));
        const ss::Workbook asRead = wb;
        ss::recalculate(wb);
        const ss::Workbook again = ss::xls::readFile(ss::xls::writeFile(wb));
        QCOMPARE(again.sheets.size(), asRead.sheets.size());
        for (std::size_t s = 0; s < asRead.sheets.size(); ++s)
            for (const auto& [at, cell] : asRead.sheets[s].cells) {
                const ss::Cell* c = again.sheets[s].find(at.row, at.col);
                QVERIFY(c);
                QVERIFY(c->formula == cell.formula);
                QVERIFY(c->formulaData == cell.formulaData);
            }
    }

    void workbookWithoutWorksheetsReadsEmpty()
    {
        // Its only sheet entry is not a worksheet, so the model holds no sheet at all.
        const Bytes bytes = readBytes(dataDir("xls").filePath(QStringLiteral("no-worksheets.xls")));
        const ss::Workbook wb = ss::xls::readFile(bytes);
        QVERIFY(wb.sheets.empty());
        QCOMPARE(wb.activeSheet, 0);
    }

    void savedFilesAsCompoundFiles_data() { addInputs("xls"); }
    void savedFilesAsCompoundFiles()
    {
        QFETCH(QString, path);
        const Bytes bytes = readBytes(path);
        try {
            const auto streams = ss::cfb::read(bytes);
            QCOMPARE(ss::cfb::read(ss::cfb::write(streams)).size(), streams.size());
        } catch (const ss::FormatError&) {
        }
    }

    // ---------------------------------------------------------------- formulas

    void formulaInputsAsTextAndTokens_data() { addInputs("formula"); }
    void formulaInputsAsTextAndTokens()
    {
        QFETCH(QString, path);
        const Bytes bytes = readBytes(path);
        const ss::formula::Context ctx = numberedCells();
        try {
            const Bytes tokens = ss::formula::compile(asText(bytes), 3, 3);
            QCOMPARE(ss::formula::compile(ss::formula::decompile(tokens, 3, 3), 3, 3), tokens);
            (void)ss::formula::evaluate(tokens, 3, 3, ctx);
        } catch (const ss::FormatError&) {
        }
        (void)ss::formula::decompile(bytes, 3, 3);
        (void)ss::formula::references(ss::formula::expandShared(bytes, 3, 3));
        (void)ss::formula::evaluate(bytes, 3, 3, ctx);
    }

    void builtInCalledWithTooFewArgumentsIsValueError()
    {
        // ptgFuncVar with no arguments for IF, which needs two: it used to read below the stack.
        const ss::formula::Context ctx = numberedCells();
        const Bytes ifWithNothing = {0x22, 0x00, 0x01, 0x00};
        const ss::Value v = ss::formula::evaluate(ifWithNothing, 0, 0, ctx);
        QVERIFY(v.isError());
        QCOMPARE(v.error(), ss::ErrorCode::Value);

        // ROUND (fixed, two arguments) announced through ptgFuncVar with one.
        const Bytes roundWithOne = {0x1E, 0x05, 0x00, 0x22, 0x01, 0x1B, 0x00};
        QCOMPARE(ss::formula::evaluate(roundWithOne, 0, 0, ctx).error(), ss::ErrorCode::Value);

        // The saved input evaluates to the same error rather than touching freed stack slots.
        const Bytes saved = readBytes(dataDir("formula").filePath(QStringLiteral("if-without-arguments.bin")));
        QVERIFY(ss::formula::evaluate(saved, 3, 3, ctx).isError());
    }

    void stringBeyondUnicodeBecomesReplacementCharacter()
    {
        // F6 8F 8F 8F decodes to a code point above U+10FFFF; it used to become a pair of low
        // surrogates that no reader accepts, and the text did not compile back to its tokens.
        const std::string text = "=\"a\xF6\x8F\x8F\x8F" "b\"";
        const Bytes tokens = ss::formula::compile(text);
        QCOMPARE(ss::formula::decompile(tokens), std::string("\"a\xEF\xBF\xBD" "b\""));
        QCOMPARE(ss::formula::compile(ss::formula::decompile(tokens)), tokens);

        // An encoded surrogate half is no character either.
        const Bytes half = ss::formula::compile("=\"\xED\xA0\x80\"");
        QCOMPARE(ss::formula::decompile(half), std::string("\"\xEF\xBF\xBD\""));
    }

    // ---------------------------------------------------------------- values that are no numbers

    void valuesThatAreNoNumbersFormatAndCompute()
    {
        // A NUMBER record may hold NaN or an infinity. Formatting one as a date used to convert
        // NaN to a 64-bit day count (undefined); date functions did the same with the cell's value.
        const double odd[] = {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e300, 2958466.0};
        const char* codes[] = {"dd.mm.yyyy", "hh:mm:ss", "[h]:mm", "mm:ss.000", "dddd", "yyyy-mm-dd AM/PM",
                               "0.00", "0.00E+00", "# ?/?", "0%", "[>100]0;[<0]-0;0", "General"};
        for (const double v : odd) {
            for (const char* code : codes) {
                const std::string text = ss::formatValue(v, code).text;
                if (ss::isDateFormat(code) && !std::isfinite(v))
                    QCOMPARE(QString::fromStdString(text), QStringLiteral("########"));
            }
        }

        ss::Workbook wb = ss::Workbook::makeDefault();
        wb.sheets.emplace_back();
        ss::Sheet& sheet = wb.sheets.back();
        sheet.name = "Odd";
        sheet.at(0, 0).value = std::nan("");
        sheet.at(1, 0).value = HUGE_VAL;
        const char* formulas[] = {"YEAR(A1)", "HOUR(A1)", "WEEKDAY(A2)", "DAYS360(A1,A2)", "MINUTE(A2)",
                                  "TEXT(A1,\"dd.mm.yyyy\")", "SUM(A1:A2)", "A2+1", "ROUND(A1,2)", "INT(A2)"};
        int row = 0;
        for (const char* f : formulas)
            sheet.at(row++, 1).formula = ss::formula::compile(f);
        ss::recalculate(wb);
        for (int r = 0; r < row; ++r) {
            const ss::Value& v = sheet.find(r, 1)->value;
            QVERIFY2(v.isError() && v.error() == ss::ErrorCode::Num, formulas[r]);
        }
    }

    // ---------------------------------------------------------------- number texts

    void numberTextsInBothConventions_data()
    {
        QTest::addColumn<QString>("path");
        for (const char* target : {"formula", "numbertext"}) {
            const QDir dir = dataDir(target);
            for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
                QTest::newRow(qPrintable(QLatin1String(target) + QLatin1Char('/') + name)) << dir.filePath(name);
        }
    }
    void numberTextsInBothConventions()
    {
        QFETCH(QString, path);
        const Bytes bytes = readBytes(path);
        const QString text = QString::fromUtf8(asText(bytes).data(), static_cast<qsizetype>(bytes.size()));
        const corvantis::ErrorReportSink previous = corvantis::setErrorReportSink([](const corvantis::ErrorReport&) {});
        const QLocale before;
        const std::pair<QLocale, ss::NumberLocale> conventions[] = {
            {QLocale(QLocale::English, QLocale::UnitedStates), {".", ",", "$", "-"}},
            {QLocale(QLocale::German, QLocale::Germany), {",", ".", "\xE2\x82\xAC", "-"}},
        };
        for (const auto& [qt, engine] : conventions) {
            QLocale::setDefault(qt);
            const bool numeric = corvantis::IsNumeric(text);
            QCOMPARE(corvantis::NumericValue(text).has_value(), numeric);
            (void)corvantis::NormalizeDecimal(text);
            (void)corvantis::ClearNonNumeric(text);
            try {
                (void)corvantis::FormatAmount(text, 2);
            } catch (const corvantis::StepError&) {
                QVERIFY2(!numeric, "a numeric text must format as an amount");
            }
            (void)ss::valueFromTypedText(asText(bytes), engine);
        }
        QLocale::setDefault(before);
        corvantis::setErrorReportSink(previous);
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "test_fuzz_regressions.moc"
