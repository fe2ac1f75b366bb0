// Whole-file proof: workbooks the engine fills from the projection template and saves are
// read by Gnumeric, LibreOffice and xlrd with the same numbers the engine computed, and a
// template that LibreOffice saved again still works in the engine.
//
// How values are compared. Every cell of B1:AC50 is checked against the engine's cell:
//  - raw values (Gnumeric "format=raw", LibreOffice CSV with "as shown" off, xlrd's cell
//    values): texts exactly, numbers within 1e-12 relative (LibreOffice writes 15 significant
//    digits), date cells as the same day whether the reader writes a serial, an ISO date or
//    the en-US m/d/y form;
//  - formatted text (Gnumeric "format=preserve"): the text the engine's number formats give,
//    for texts and for every number in a non-General format ("#,##0", "0.0", "mmm-yy"),
//    with Gnumeric's U+2212 minus read as '-' and its "0" for a negative that rounds to zero
//    (Excel and the engine show "-0") taken as the same.
// The CSV exporters start at different corners (LibreOffice at A1, Gnumeric at the first cell
// in use), so each grid is aligned on the title in B2 before comparing.
#include "spreadsheet/address.h"
#include "spreadsheet/calc.h"
#include "spreadsheet/datetime.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/model.h"
#include "spreadsheet/numfmt.h"
#include "spreadsheet/textinput.h"
#include "spreadsheet/xls.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace ss;

namespace {

constexpr int kLastRow = 49;   // row 50, 0-based
constexpr int kFirstCol = 1;   // B
constexpr int kLastCol = 28;   // AC
const char* const kTitle = "Twelve-month profit and loss projection";

std::string a1(int row, int col) { return ss::cellAddress(row, col); }

// The 33 line rows, 0-based: revenue 6-12, cost of sales 16-22, expenses 28-46 (1-based).
const std::vector<int> kLineRows = [] {
    std::vector<int> rows;
    for (int r = 6; r <= 46; ++r)
        if (!(r >= 13 && r <= 15) && !(r >= 23 && r <= 27))
            rows.push_back(r - 1);
    return rows;
}();

int amountCol(int month) { return 3 + 2 * month; }   // month 0..11 -> D..Z

// ------------------------------------------------------------------ input sets

struct Line {
    std::string label, ind;
    std::array<std::string, 12> amounts;        // as typed: "$1,250.00", "($3.10)", ""
    std::array<double, 12> values{};            // what each amount text means (blank = 0)
};

struct InputSet {
    std::string name, company;
    double start = 37987;
    std::vector<Line> lines;   // 33
};

// A currency text as the input sheet shows it in an English (United States) locale.
std::string money(long long cents, bool parentheses)
{
    const bool negative = cents < 0;
    unsigned long long v = static_cast<unsigned long long>(negative ? -cents : cents);
    std::string digits = std::to_string(v / 100);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    char frac[8];
    std::snprintf(frac, sizeof frac, ".%02llu", v % 100);
    const std::string body = "$" + digits + frac;
    if (!negative)
        return body;
    return parentheses ? "(" + body + ")" : "-" + body;
}

struct Rng {
    unsigned long long s;
    unsigned long long next(unsigned long long n)
    {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return (s >> 33) % n;
    }
};

void setAmount(Line& l, int m, long long cents, bool parentheses = false)
{
    l.amounts[m] = money(cents, parentheses);
    l.values[m] = static_cast<double>(cents) / 100.0;
}

std::vector<InputSet> inputSets()
{
    std::vector<InputSet> sets;
    const auto blankLines = [] { return std::vector<Line>(33); };

    {   // The input sheet at its defaults: nothing but empty texts and zero amounts.
        InputSet s{"zero", "", 37987, blankLines()};
        for (std::size_t i = 0; i < s.lines.size(); ++i)
            for (int m = 0; m < 12; ++m)
                if ((i + m) % 2)
                    setAmount(s.lines[i], m, 0);
        sets.push_back(s);
    }
    {   // Losses and refunds, both negative forms; fiscal year from mid-November.
        InputSet s{"negatives", "Smith & Sons, \"Ltd\"", dateToSerial(2021, 11, 15), blankLines()};
        Rng rng{7};
        for (std::size_t i = 0; i < s.lines.size(); ++i) {
            s.lines[i].label = "Line " + std::to_string(i + 1);
            s.lines[i].ind = i % 3 ? "-2.5" : "7";
            for (int m = 0; m < 12; ++m) {
                long long cents = static_cast<long long>(rng.next(500000));
                if ((i * 12 + m) % 3 == 0)
                    cents = -cents;
                setAmount(s.lines[i], m, cents, m % 2);
            }
        }
        sets.push_back(s);
    }
    {   // Cents everywhere, non-ASCII names, a leap day start.
        InputSet s{"decimals", "Caf\xC3\xA9 Cr\xC3\xA8me \xE2\x82\xAC GmbH", dateToSerial(2000, 2, 29), blankLines()};
        Rng rng{11};
        for (std::size_t i = 0; i < s.lines.size(); ++i) {
            s.lines[i].label = i == 3 ? "Rent, \"downtown\"" : "Posten \xC3\xBC" + std::to_string(i);
            s.lines[i].ind = "12.75";
            for (int m = 0; m < 12; ++m)
                setAmount(s.lines[i], m, static_cast<long long>(rng.next(m % 4 == 0 ? 100 : 250000)));
        }
        sets.push_back(s);
    }
    {   // Revenue category 3 at zero and category 5 left empty while their costs are not;
        // in month 7 no revenue at all.
        InputSet s{"zerocategory", "Zero Category Inc.", dateToSerial(2023, 7, 1), blankLines()};
        Rng rng{23};
        for (std::size_t i = 0; i < s.lines.size(); ++i) {
            s.lines[i].label = "Item " + std::to_string(i);
            for (int m = 0; m < 12; ++m) {
                const bool revenue = i < 7;
                if (revenue && (i == 2 || m == 6))
                    setAmount(s.lines[i], m, 0);
                else if (revenue && i == 4)
                    continue;   // empty text: a blank cell
                else
                    setAmount(s.lines[i], m, 100 + static_cast<long long>(rng.next(9000000)));
            }
        }
        sets.push_back(s);
    }
    {   // The largest amounts the input sheet takes.
        InputSet s{"large", "Big Numbers plc", dateToSerial(1999, 12, 31), blankLines()};
        for (std::size_t i = 0; i < s.lines.size(); ++i) {
            s.lines[i].label = "Large " + std::to_string(i);
            s.lines[i].ind = "100";
            for (int m = 0; m < 12; ++m)
                setAmount(s.lines[i], m, (i == 9 && m == 1) ? -9999999999LL : 9999999999LL, true);
        }
        sets.push_back(s);
    }
    return sets;
}

// Writes the inputs the way generation does: each text through the typed-text conversion.
void fill(Workbook& wb, const InputSet& in)
{
    Sheet& s = wb.sheets.at(0);
    s.at(1, 10).value = valueFromTypedText(in.company);   // K2
    s.at(1, 17).value = Value(in.start);                  // R2
    for (std::size_t i = 0; i < kLineRows.size(); ++i) {
        const int r = kLineRows[i];
        const Line& l = in.lines[i];
        s.at(r, 1).value = valueFromTypedText(l.label);
        s.at(r, 2).value = valueFromTypedText(l.ind);
        for (int m = 0; m < 12; ++m)
            s.at(r, amountCol(m)).value = valueFromTypedText(l.amounts[m]);
    }
    recalculate(wb);
}

// ------------------------------------------------------------------ comparisons

bool close(double a, double b) { return std::fabs(a - b) <= 1e-12 * std::max(1.0, std::fabs(a)); }

using Grid = std::vector<std::vector<std::string>>;

// RFC 4180 CSV: quoted fields with doubled quotes, line breaks inside quotes.
Grid parseCsv(const QByteArray& bytes)
{
    Grid g;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, any = false;
    const std::string s = bytes.toStdString();
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (quoted) {
            if (c == '"' && i + 1 < s.size() && s[i + 1] == '"')
                field += '"', ++i;
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ',') {
            row.push_back(field), field.clear();
            any = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
                ++i;
            row.push_back(field), field.clear();
            g.push_back(row), row.clear();
            any = false;
        } else {
            field += c;
            any = true;
        }
    }
    if (any || !field.empty()) {
        row.push_back(field);
        g.push_back(row);
    }
    return g;
}

// A CSV grid with its top left corner placed on the sheet: found from the title in B2.
struct PlacedGrid {
    Grid grid;
    int rowOffset = 0, colOffset = 0;   // sheet row/col of grid[0][0]
    bool placed = false;

    std::string at(int row, int col) const
    {
        const int r = row - rowOffset, c = col - colOffset;
        if (r < 0 || c < 0 || r >= static_cast<int>(grid.size()) || c >= static_cast<int>(grid[r].size()))
            return {};
        return grid[r][c];
    }
};

PlacedGrid place(Grid g)
{
    PlacedGrid p;
    for (std::size_t r = 0; r < g.size() && !p.placed; ++r)
        for (std::size_t c = 0; c < g[r].size(); ++c)
            if (g[r][c] == kTitle) {
                p.rowOffset = 1 - static_cast<int>(r);
                p.colOffset = 1 - static_cast<int>(c);
                p.placed = true;
                break;
            }
    p.grid = std::move(g);
    return p;
}

// A reader's date: a serial, "yyyy-mm-dd" or "m/d/yyyy".
std::optional<double> readerNumber(const std::string& field, bool dateCell)
{
    if (field.empty())
        return std::nullopt;
    if (dateCell) {
        int y = 0, m = 0, d = 0;
        char tail = 0;
        if (std::sscanf(field.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) == 3
            || std::sscanf(field.c_str(), "%2d/%2d/%4d%c", &m, &d, &y, &tail) == 3)
            return dateToSerial(y, m, d);
    }
    char* end = nullptr;
    const double v = std::strtod(field.c_str(), &end);
    if (end == field.c_str() || *end)
        return std::nullopt;
    return v;
}

std::string formatOf(const Workbook& wb, const Cell& c) { return wb.formatCode(wb.xfs.at(c.xf).formatIndex); }

// Compares a raw-value grid with the engine's cells; returns the mismatches.
QStringList compareRaw(const Workbook& wb, const PlacedGrid& g, const QString& what)
{
    QStringList bad;
    if (!g.placed)
        return {what + ": the title B2 is not in the export"};
    const Sheet& s = wb.sheets[0];
    for (int r = 0; r <= kLastRow; ++r)
        for (int c = kFirstCol; c <= kLastCol; ++c) {
            const Cell* cell = s.find(r, c);
            const Value v = cell ? cell->value : Value();
            const std::string got = g.at(r, c);
            bool ok = false;
            std::string want;
            switch (v.kind()) {
            case Value::Kind::Blank: ok = got.empty(); break;
            case Value::Kind::Text: want = v.text(); ok = got == want; break;
            case Value::Kind::Number: {
                want = std::to_string(v.number());
                const auto n = readerNumber(got, isDateFormat(formatOf(wb, *cell)));
                ok = n && close(v.number(), *n);
                break;
            }
            case Value::Kind::Boolean: want = v.boolean() ? "TRUE" : "FALSE"; ok = got == want; break;
            case Value::Kind::Error: want = errorText(v.error()); ok = got == want; break;
            }
            if (!ok)
                bad << QString("%1 %2: engine '%3', reader '%4'")
                           .arg(what, a1(r, c).c_str(), QString::fromStdString(want), QString::fromStdString(got));
        }
    return bad;
}

std::string normalizedMinus(std::string s)
{
    const std::string minus = "\xE2\x88\x92";   // U+2212
    for (std::size_t at = s.find(minus); at != std::string::npos; at = s.find(minus, at))
        s.replace(at, minus.size(), "-");
    return s;
}

QStringList compareFormatted(const Workbook& wb, const PlacedGrid& g, const QString& what)
{
    QStringList bad;
    if (!g.placed)
        return {what + ": the title B2 is not in the export"};
    int compared = 0;
    for (const auto& [a, cell] : wb.sheets[0].cells) {
        if (a.row > kLastRow || a.col < kFirstCol || a.col > kLastCol)
            continue;
        const std::string code = formatOf(wb, cell);
        if (cell.value.isBlank() || (cell.value.isNumber() && code == "General"))
            continue;
        const std::string want = formatValue(cell.value, code, wb.date1904).text;
        const std::string got = normalizedMinus(g.at(a.row, a.col));
        ++compared;
        // A negative amount that rounds to nothing: Excel and the engine show "-0", Gnumeric "0".
        const bool negativeZero = want.size() > 1 && want[0] == '-' && want.substr(1) == got
                                  && got.find_first_of("123456789") == std::string::npos;
        if (got != want && !negativeZero)
            bad << QString("%1 %2 (%3): engine '%4', reader '%5'")
                       .arg(what, a1(a.row, a.col).c_str(), QString::fromStdString(code),
                            QString::fromStdString(want), QString::fromStdString(got));
    }
    if (compared < 300)
        bad << QString("%1: only %2 formatted cells compared").arg(what).arg(compared);
    return bad;
}

QString summary(const QStringList& bad)
{
    QStringList shown = bad.mid(0, 25);
    if (bad.size() > 25)
        shown << QString("... and %1 more").arg(bad.size() - 25);
    return shown.join('\n');
}

// ------------------------------------------------------------------ external programs

struct RunResult {
    bool started = false;
    int exitCode = -1;
    QByteArray out, err;
};

RunResult run(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    RunResult r;
    r.started = p.waitForStarted(10000);
    if (!r.started)
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

// Dumps what xlrd reads from each file as one JSON object keyed by path.
const char* const kXlrdDump = R"PY(
import json, sys, xlrd
out = {}
for path in sys.argv[1:]:
    try:
        bk = xlrd.open_workbook(path, formatting_info=True)
        sh = bk.sheet_by_index(0)
        cells, formats, fonts = [], [], []
        for r in range(50):
            crow, frow, fnrow = [], [], []
            for c in range(29):
                if r < sh.nrows and c < sh.ncols:
                    cell = sh.cell(r, c)
                    crow.append([cell.ctype, cell.value])
                    xf = bk.xf_list[cell.xf_index]
                    frow.append(bk.format_map[xf.format_key].format_str)
                    f = bk.font_list[xf.font_index]
                    fnrow.append([f.name, f.height, f.weight >= 700])
                else:
                    crow.append([0, ""]); frow.append(None); fnrow.append(None)
            cells.append(crow); formats.append(frow); fonts.append(fnrow)
        names = []
        for n in bk.name_obj_list:
            item = {"name": n.name, "scope": n.scope, "builtin": bool(n.builtin)}
            try:
                s, rlo, rhi, clo, chi = n.area2d(clipped=False)
                item["area"] = [s.name, rlo, rhi, clo, chi]
            except Exception as e:
                item["error"] = repr(e)
            names.append(item)
        out[path] = {"sheets": bk.sheet_names(), "cells": cells, "formats": formats, "fonts": fonts,
                     "widths": [sh.computed_column_width(c) for c in range(256)],
                     "hsplit": sh.horz_split_pos, "vsplit": sh.vert_split_pos,
                     "hfirst": sh.horz_split_first_visible, "vfirst": sh.vert_split_first_visible,
                     "frozen": sh.panes_are_frozen, "grid": sh.show_grid_lines, "names": names}
    except Exception as e:
        out[path] = {"error": repr(e)}
json.dump(out, sys.stdout)
)PY";

QString pythonWithXlrd()
{
    for (const QString& candidate : {QString("python3"), QString("/usr/bin/python3")}) {
        const RunResult r = run(candidate, {"-c", "import xlrd"}, 30000);
        if (r.started && r.exitCode == 0)
            return candidate;
    }
    return {};
}

struct Output {
    QString name;         // input set, with "-lo" for the fill of LibreOffice's copy of the template
    QString xls;          // the saved workbook
    Workbook engine;      // the engine's workbook after fill and recalculation
};

} // namespace

class TestReaders : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    std::vector<InputSet> sets_;
    Workbook template_;
    std::vector<Output> own_;          // filled from our template
    std::vector<Output> roundTrip_;    // filled from LibreOffice's copy of it
    std::optional<Workbook> loTemplate_;

    QString soffice_, ssconvert_, python_;
    std::map<QString, PlacedGrid> gnumericRaw_, gnumericRecalc_, gnumericShown_, libreOffice_;
    QJsonObject xlrd_;
    QString loError_;

    std::vector<const Output*> allOutputs() const
    {
        std::vector<const Output*> all;
        for (const Output& o : own_)
            all.push_back(&o);
        for (const Output& o : roundTrip_)
            all.push_back(&o);
        return all;
    }

    Output makeOutput(const Workbook& base, const InputSet& in, const QString& suffix)
    {
        Output o;
        o.name = QString::fromStdString(in.name) + suffix;
        o.xls = dir_.filePath(o.name + ".xls");
        o.engine = base;
        fill(o.engine, in);
        xls::save(o.engine, o.xls.toStdString());
        return o;
    }

    void runGnumeric()
    {
        for (const Output* o : allOutputs()) {
            const auto csv = [&](const QString& tag, const QString& format, bool recalc) {
                const QString out = dir_.filePath(o->name + "-" + tag + ".csv");
                QStringList args;
                if (recalc)
                    args << "--recalc";
                args << "--export-type=Gnumeric_stf:stf_assistant" << "-O" << "format=" + format + " separator=,"
                     << o->xls << out;
                const RunResult r = run(ssconvert_, args, 60000);
                QFile f(out);
                if (r.exitCode != 0 || !f.open(QIODevice::ReadOnly))
                    return PlacedGrid{};
                return place(parseCsv(f.readAll()));
            };
            gnumericRaw_[o->name] = csv("gr", "raw", false);
            gnumericRecalc_[o->name] = csv("grr", "raw", true);
            gnumericShown_[o->name] = csv("gs", "preserve", false);
        }
    }

    // One LibreOffice run for every file: CSV of the raw values of all sheets.
    void runLibreOffice()
    {
        const QString outDir = dir_.filePath("lo-csv");
        QStringList args = {"--headless", "-env:UserInstallation=file://" + dir_.filePath("lo-profile"),
                            "--convert-to",
                            "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1",
                            "--outdir", outDir};
        for (const Output* o : allOutputs())
            args << o->xls;
        const RunResult r = run(soffice_, args, 150000);
        if (r.exitCode != 0)
            loError_ = "soffice failed: " + QString::fromLocal8Bit(r.err);
        for (const Output* o : allOutputs()) {
            QFile f(outDir + "/" + o->name + "-PnL projection.csv");
            if (f.open(QIODevice::ReadOnly))
                libreOffice_[o->name] = place(parseCsv(f.readAll()));
        }
    }

    // LibreOffice saves our template again as an Excel 97-2003 file.
    void runLibreOfficeTemplateCopy()
    {
        const QString in = dir_.filePath("template.xlt");
        QFile::remove(in);
        QFile::copy(qEnvironmentVariable("CORVANTIS_TEMPLATE"), in);
        const QString outDir = dir_.filePath("lo-xls");
        const RunResult r = run(soffice_,
                                {"--headless", "-env:UserInstallation=file://" + dir_.filePath("lo-profile"),
                                 "--convert-to", "xls:MS Excel 97", "--outdir", outDir, in},
                                150000);
        const QString copy = outDir + "/template.xls";
        if (r.exitCode != 0 || !QFile::exists(copy)) {
            loError_ = "soffice could not save the template: " + QString::fromLocal8Bit(r.err);
            return;
        }
        try {
            loTemplate_ = xls::load(copy.toStdString());
        } catch (const std::exception& e) {
            loError_ = QString("the engine cannot open LibreOffice's copy of the template: ") + e.what();
        }
    }

    const QJsonObject xlrdFile(const QString& path) const { return xlrd_.value(path).toObject(); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        const QString path = qEnvironmentVariable("CORVANTIS_TEMPLATE");
        QVERIFY2(!path.isEmpty(), "CORVANTIS_TEMPLATE is not set");
        template_ = xls::load(path.toStdString());
        sets_ = inputSets();
        for (const InputSet& in : sets_)
            own_.push_back(makeOutput(template_, in, ""));

        soffice_ = QStandardPaths::findExecutable("soffice");
        ssconvert_ = QStandardPaths::findExecutable("ssconvert");
        python_ = pythonWithXlrd();

        if (!soffice_.isEmpty()) {
            runLibreOfficeTemplateCopy();
            if (loTemplate_)
                for (const InputSet& in : sets_)
                    roundTrip_.push_back(makeOutput(*loTemplate_, in, "-lo"));
            runLibreOffice();
        }
        if (!ssconvert_.isEmpty())
            runGnumeric();
        if (!python_.isEmpty()) {
            QStringList args = {"-c", kXlrdDump};
            for (const Output* o : allOutputs())
                args << o->xls;
            args << path;
            const RunResult r = run(python_, args, 120000);
            xlrd_ = QJsonDocument::fromJson(r.out).object();
            QVERIFY2(!xlrd_.isEmpty(), r.err.constData());
        }
    }

    // The engine's own figures against a model of the projection computed here.
    void engineComputesTheProjection()
    {
        for (std::size_t k = 0; k < sets_.size(); ++k) {
            const InputSet& in = sets_[k];
            const Sheet& s = own_[k].engine.sheets[0];
            QStringList bad;
            const auto num = [&](int row1, int col) -> std::optional<double> {
                const Cell* c = s.find(row1 - 1, col);
                return c && c->value.isNumber() ? std::optional<double>(c->value.number()) : std::nullopt;
            };
            const auto expectPct = [&](int row1, int col, double part, double whole) {
                const Cell* c = s.find(row1 - 1, col);
                const bool ok = whole == 0 ? c && c->value == Value("-")
                                           : c && c->value.isNumber() && close(c->value.number(), part * 100 / whole);
                if (!ok)
                    bad << QString("%1 (percentage)").arg(a1(row1 - 1, col).c_str());
            };
            const auto expectNum = [&](int row1, int col, double v) {
                const auto got = num(row1, col);
                if (!got || !close(*got, v))
                    bad << QString("%1: want %2 got %3").arg(a1(row1 - 1, col).c_str()).arg(v, 0, 'f', 2)
                               .arg(got ? QString::number(*got, 'f', 2) : QString("no number"));
            };
            // Month 0..11, then 12 for the yearly column.
            for (int m = 0; m <= 12; ++m) {
                const int col = m < 12 ? amountCol(m) : 27;
                const auto amount = [&](int line) {
                    double v = 0;
                    if (m < 12)
                        return in.lines[line].values[m];
                    for (int mm = 11; mm >= 0; --mm)
                        v += in.lines[line].values[mm];
                    return v;
                };
                double rev = 0, cost = 0, exp = 0;
                for (int i = 0; i < 7; ++i)
                    rev += amount(i);
                for (int i = 7; i < 14; ++i)
                    cost += amount(i);
                for (int i = 14; i < 33; ++i)
                    exp += amount(i);
                double revPctSum = 0;
                for (int i = 0; i < 7; ++i) {
                    if (m == 12)
                        expectNum(6 + i, col, amount(i));
                    expectPct(6 + i, col + 1, amount(i), rev);
                    expectPct(16 + i, col + 1, amount(7 + i), amount(i));
                    if (rev != 0)
                        revPctSum += amount(i) * 100 / rev;
                }
                for (int i = 14; i < 33; ++i)
                    expectPct(14 + i, col + 1, amount(i), rev);
                expectNum(13, col, rev);
                expectNum(13, col + 1, revPctSum);
                expectNum(23, col, cost);
                expectPct(23, col + 1, cost, rev);
                expectNum(25, col, rev - cost);
                expectPct(25, col + 1, rev - cost, rev);
                expectNum(47, col, exp);
                expectPct(47, col + 1, exp, rev);
                expectNum(49, col, rev - cost - exp);
                expectPct(49, col + 1, rev - cost - exp, rev);
            }
            // Month headers: the start date, then the first of each following month.
            const Date start = serialToDate(in.start);
            expectNum(4, 3, in.start);
            for (int m = 1; m < 12; ++m)
                expectNum(4, amountCol(m), dateToSerial(start.year, start.month + m, 1));
            QVERIFY2(bad.isEmpty(), qPrintable(QString::fromStdString(in.name) + ":\n" + summary(bad)));
        }
        // The cases the sets are there for.
        const Sheet& zc = own_[3].engine.sheets[0];
        QCOMPARE(zc.find(17, 4)->value, Value("-"));   // E18: cost of revenue category 3, which is 0
        QVERIFY(zc.find(12, 4)->value.isNumber());     // while total revenue is not
        QCOMPARE(zc.find(19, 4)->value, Value("-"));   // E20: revenue category 5 left empty
        QCOMPARE(zc.find(12, 16)->value, Value(0.0));  // P13: no revenue in month 7
        QCOMPARE(zc.find(48, 16)->value, Value("-"));  // Q49
        const Sheet& neg = own_[1].engine.sheets[0];
        QVERIFY(neg.find(5, 3)->value.isNumber());
    }

    // What the engine saved is what it computed.
    void engineReadsBackItsFiles()
    {
        for (const Output* o : allOutputs()) {
            const Workbook back = xls::load(o->xls.toStdString());
            const QStringList bad = [&] {
                QStringList b;
                for (const auto& [a, cell] : o->engine.sheets[0].cells) {
                    const Cell* c = back.sheets[0].find(a.row, a.col);
                    if (!c || !(c->value == cell.value) || c->formula != cell.formula)
                        b << QString::fromStdString(a1(a.row, a.col));
                }
                return b;
            }();
            QVERIFY2(bad.isEmpty(), qPrintable(o->name + ": " + summary(bad)));
        }
    }

    void gnumericShowsTheCachedResults()
    {
        if (ssconvert_.isEmpty())
            QSKIP("ssconvert (Gnumeric) is not installed");
        for (const Output* o : allOutputs()) {
            const QStringList bad = compareRaw(o->engine, gnumericRaw_[o->name], o->name + " gnumeric");
            QVERIFY2(bad.isEmpty(), qPrintable(summary(bad)));
        }
    }

    void gnumericRecalculatesTheSame()
    {
        if (ssconvert_.isEmpty())
            QSKIP("ssconvert (Gnumeric) is not installed");
        for (const Output* o : allOutputs()) {
            const QStringList bad = compareRaw(o->engine, gnumericRecalc_[o->name], o->name + " gnumeric --recalc");
            QVERIFY2(bad.isEmpty(), qPrintable(summary(bad)));
        }
    }

    // Gnumeric formats the numbers with the formats of the file as the engine does.
    void gnumericFormatsTheSameText()
    {
        if (ssconvert_.isEmpty())
            QSKIP("ssconvert (Gnumeric) is not installed");
        for (const Output* o : allOutputs()) {
            const QStringList bad = compareFormatted(o->engine, gnumericShown_[o->name], o->name + " gnumeric shown");
            QVERIFY2(bad.isEmpty(), qPrintable(summary(bad)));
        }
    }

    void libreOfficeReadsTheSameValues()
    {
        if (soffice_.isEmpty())
            QSKIP("soffice (LibreOffice) is not installed");
        QVERIFY2(loError_.isEmpty(), qPrintable(loError_));
        for (const Output* o : allOutputs()) {
            QVERIFY2(libreOffice_.count(o->name), qPrintable(o->name + ": no CSV from LibreOffice"));
            const QStringList bad = compareRaw(o->engine, libreOffice_[o->name], o->name + " libreoffice");
            QVERIFY2(bad.isEmpty(), qPrintable(summary(bad)));
        }
    }

    // LibreOffice's copy of the template keeps its layout and computes the same projection.
    void libreOfficeCopyOfTheTemplateWorks()
    {
        if (soffice_.isEmpty())
            QSKIP("soffice (LibreOffice) is not installed");
        QVERIFY2(loTemplate_, qPrintable(loError_));
        const Sheet& lo = loTemplate_->sheets.at(0);
        const Sheet& ours = template_.sheets.at(0);
        QCOMPARE(lo.name, ours.name);
        QVERIFY(!lo.showGridlines);
        QVERIFY(lo.pane.frozen);
        QCOMPARE(lo.pane.splitCols, 2);
        QCOMPARE(lo.pane.splitRows, 5);
        QCOMPARE(lo.page.paperSize, std::uint16_t(1));
        QVERIFY(lo.page.landscape);
        // LibreOffice keeps one scaling mode: fit to 1 x 1 page wins and the 60 % is not kept.
        QVERIFY(lo.page.fitToPage);
        QCOMPARE(lo.page.fitWidth, std::uint16_t(1));
        QCOMPARE(lo.page.fitHeight, std::uint16_t(1));
        // Widths within a pixel of ours.
        for (int c = 0; c <= 30; ++c)
            QVERIFY2(std::abs(lo.columnWidth(c) - ours.columnWidth(c)) <= 256 / 7 + 1,
                     qPrintable(QString("column %1: %2 vs %3").arg(c).arg(lo.columnWidth(c)).arg(ours.columnWidth(c))));
        // Same formulas, as text.
        for (const auto& [a, cell] : ours.cells) {
            if (!cell.isFormula())
                continue;
            const Cell* c = lo.find(a.row, a.col);
            QVERIFY2(c && c->isFormula(), qPrintable(QString::fromStdString(a1(a.row, a.col))));
            QCOMPARE(formula::decompile(c->formula, a.row, a.col), formula::decompile(cell.formula, a.row, a.col));
        }
        bool titles = false;
        for (const DefinedName& n : loTemplate_->names)
            titles = titles || (n.builtin && n.name == std::string(1, '\x07'));
        QVERIFY2(titles, "LibreOffice's copy lost Print_Titles");

        QCOMPARE(roundTrip_.size(), own_.size());
        for (std::size_t k = 0; k < own_.size(); ++k) {
            QStringList bad;
            const Sheet& a = own_[k].engine.sheets[0];
            const Sheet& b = roundTrip_[k].engine.sheets[0];
            for (int r = 0; r <= kLastRow; ++r)
                for (int c = kFirstCol; c <= kLastCol; ++c) {
                    const Cell* x = a.find(r, c);
                    const Cell* y = b.find(r, c);
                    const Value vx = x ? x->value : Value(), vy = y ? y->value : Value();
                    const bool same = vx == vy || (vx.isNumber() && vy.isNumber() && close(vx.number(), vy.number()));
                    if (!same)
                        bad << QString::fromStdString(a1(r, c));
                }
            QVERIFY2(bad.isEmpty(), qPrintable(own_[k].name + " from LibreOffice's copy differs at " + summary(bad)));
        }
    }

    void xlrdReadsTheValues()
    {
        if (python_.isEmpty())
            QSKIP("python3-xlrd is not installed");
        for (const Output* o : allOutputs()) {
            const QJsonObject f = xlrdFile(o->xls);
            QVERIFY2(!f.contains("error") && f.contains("cells"),
                     qPrintable(o->name + ": " + f.value("error").toString()));
            const QJsonArray rows = f.value("cells").toArray();
            const Sheet& s = o->engine.sheets[0];
            QStringList bad;
            for (int r = 0; r <= kLastRow; ++r)
                for (int c = kFirstCol; c <= kLastCol; ++c) {
                    const QJsonArray cell = rows.at(r).toArray().at(c).toArray();
                    const int type = cell.at(0).toInt();   // 0 empty, 1 text, 2 number, 3 date, 4 bool, 5 error, 6 blank
                    const Cell* mine = s.find(r, c);
                    const Value v = mine ? mine->value : Value();
                    bool ok = false;
                    switch (v.kind()) {
                    case Value::Kind::Blank: ok = type == 0 || type == 6; break;
                    case Value::Kind::Text: ok = type == 1 && cell.at(1).toString().toStdString() == v.text(); break;
                    case Value::Kind::Number:
                        ok = (type == 2 || type == 3) && close(v.number(), cell.at(1).toDouble());
                        // xlrd calls a number a date by its format.
                        ok = ok && ((type == 3) == isDateFormat(formatOf(o->engine, *mine)));
                        break;
                    case Value::Kind::Boolean: ok = type == 4 && cell.at(1).toInt() == int(v.boolean()); break;
                    case Value::Kind::Error: ok = type == 5 && cell.at(1).toInt() == int(v.error()); break;
                    }
                    if (!ok)
                        bad << QString("%1 %2: xlrd %3")
                                   .arg(o->name, a1(r, c).c_str(), QJsonDocument(cell).toJson(QJsonDocument::Compact));
                }
            QVERIFY2(bad.isEmpty(), qPrintable(summary(bad)));
        }
    }

    void xlrdReadsTheLayout()
    {
        if (python_.isEmpty())
            QSKIP("python3-xlrd is not installed");
        const QJsonObject f = xlrdFile(qEnvironmentVariable("CORVANTIS_TEMPLATE"));
        QVERIFY2(!f.contains("error") && f.contains("cells"), qPrintable(f.value("error").toString()));
        QCOMPARE(f.value("sheets").toArray(), QJsonArray({"PnL projection"}));

        const QJsonArray widths = f.value("widths").toArray();
        const auto width = [&](int c) { return std::round(widths.at(c).toDouble() / 256 * 100) / 100; };
        QCOMPARE(width(0), 1.71);
        QCOMPARE(width(1), 20.14);
        QCOMPARE(width(2), 3.71);
        for (int c = 3; c <= 27; c += 2) {
            QCOMPARE(width(c), 9.29);
            QCOMPARE(width(c + 1), 5.14);
        }
        for (int c = 29; c < 256; ++c)
            QCOMPARE(width(c), 9.14);

        QCOMPARE(f.value("frozen").toInt(), 1);
        QCOMPARE(f.value("hsplit").toInt(), 5);
        QCOMPARE(f.value("vsplit").toInt(), 2);
        QCOMPARE(f.value("hfirst").toInt(), 5);
        QCOMPARE(f.value("vfirst").toInt(), 2);
        QCOMPARE(f.value("grid").toInt(), 0);

        const QJsonArray names = f.value("names").toArray();
        QCOMPARE(names.size(), 1);
        const QJsonObject titles = names.at(0).toObject();
        QCOMPARE(titles.value("name").toString(), QString("Print_Titles"));
        QVERIFY(titles.value("builtin").toBool());
        QCOMPARE(titles.value("scope").toInt(), 0);   // local to the first sheet
        QCOMPARE(titles.value("area").toArray(), QJsonArray({"PnL projection", 3, 4, 0, 256}));

        const QJsonArray formats = f.value("formats").toArray();
        const QJsonArray fonts = f.value("fonts").toArray();
        const auto fmt = [&](int r, int c) { return formats.at(r).toArray().at(c).toString(); };
        const auto font = [&](int r, int c) { return fonts.at(r).toArray().at(c).toArray(); };
        QCOMPARE(fmt(1, 17), QString("mmm-yy"));                  // R2
        QCOMPARE(fmt(3, 3), QString("mmm-yy"));                   // D4
        QCOMPARE(fmt(3, 5), QString("[$-409]mmm\\-yy;@"));        // F4
        QCOMPARE(fmt(3, 25), QString("[$-409]mmm\\-yy;@"));       // Z4
        QCOMPARE(fmt(5, 3), QString("#,##0"));                    // D6, an input amount
        QCOMPARE(fmt(5, 4), QString("0.0"));                      // E6
        QCOMPARE(fmt(12, 27), QString("#,##0"));                  // AB13
        QCOMPARE(fmt(48, 28), QString("0.0"));                    // AC49
        QCOMPARE(font(1, 1), QJsonArray({"Arial", 360, false}));  // B2
        QCOMPARE(font(1, 10), QJsonArray({"Arial", 180, true}));  // K2
        QCOMPARE(font(1, 16), QJsonArray({"Arial", 180, true}));  // Q2
        QCOMPARE(font(5, 1), QJsonArray({"Arial", 180, false}));  // B6
        QCOMPARE(font(4, 1), QJsonArray({"Arial", 180, true}));   // B5, a heading
        QCOMPARE(font(12, 1), QJsonArray({"Arial", 180, true}));  // B13, a total
        QCOMPARE(font(5, 28), QJsonArray({"Arial", 160, false})); // AC6
        QCOMPARE(font(12, 28), QJsonArray({"Arial", 160, true})); // AC13
    }
};

QTEST_MAIN(TestReaders)
#include "test_readers.moc"
