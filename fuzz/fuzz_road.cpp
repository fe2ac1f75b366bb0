// libFuzzer entry for the whole way a template goes: open a workbook from bytes, recalculate,
// draw the used range of every sheet, save and open again. Any input must end in a workbook or
// a FormatError; drawing must either fit the picture budget or be refused with LimitError before
// anything is allocated; what was read must come back from the saved file with the same sheets,
// the same formulas, the same link table (or, where it had none, one that means the same) and the
// same kept records.
#include "spreadsheet/calc.h"
#include "spreadsheet/error.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/render/render.h"
#include "spreadsheet/xls.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Drawing at full size is the renderer's job in production; here a larger picture is drawn in
// part, so that a run stays fast while layout, wrapping and the refusal are still exercised.
constexpr qint64 kDrawnPixels = 2'000'000;

void draw(const ss::Workbook& wb)
{
    for (int i = 0; i < static_cast<int>(wb.sheets.size()); ++i) {
        const auto used = wb.sheets[static_cast<std::size_t>(i)].usedRange();
        if (!used)
            continue;
        const QSize size = ss::renderedSize(wb, i, *used);
        const qint64 pixels = static_cast<qint64>(size.width()) * size.height();
        if (pixels > ss::kMaxPicturePixels) {
            try {
                (void)ss::renderRange(wb, i, *used);
                __builtin_trap();   // a picture over the budget must be refused
            } catch (const ss::LimitError&) {
            }
            continue;
        }
        ss::RangeAddress part = *used;
        if (pixels > kDrawnPixels) {
            part.lastRow = std::min(part.lastRow, part.firstRow + 30);
            part.lastCol = std::min(part.lastCol, part.firstCol + 10);
        }
        const QSize partSize = ss::renderedSize(wb, i, part);
        if (static_cast<qint64>(partSize.width()) * partSize.height() > ss::kMaxPicturePixels)
            continue;
        const QImage img = ss::renderRange(wb, i, part);
        if (!partSize.isEmpty() && img.size() != partSize)
            __builtin_trap();
    }
}

// Kept records the writer puts at their fixed places (page setup, calculation settings, the
// window) wherever a damaged file had them; the others must come back in order.
bool placed(std::uint16_t t)
{
    switch (t) {
    case 0x0014: case 0x0015: case 0x0083: case 0x0084: case 0x0026: case 0x0027: case 0x0028: case 0x0029:
    case 0x00A0: case 0x000D: case 0x000C: case 0x000F: case 0x0011: case 0x0010: case 0x005F: case 0x002A:
    case 0x002B: case 0x0082: case 0x0080: case 0x0081: case 0x023E:
        return true;
    default:
        return false;
    }
}

std::vector<ss::RawRecord> unplaced(const std::vector<ss::RawRecord>& list)
{
    std::vector<ss::RawRecord> out;
    bool skip = false;
    for (const ss::RawRecord& r : list) {
        if (r.type != 0x003C)
            skip = placed(r.type);
        if (!skip)
            out.push_back(r);
    }
    return out;
}

bool sameKept(const std::vector<ss::RawRecord>& a, const std::vector<ss::RawRecord>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].type != b[i].type || a[i].data != b[i].data)
            return false;
    return true;
}

// The records of embedded substreams (charts) among a sheet's kept records.
std::vector<ss::RawRecord> embedded(const ss::Sheet& s)
{
    std::vector<ss::RawRecord> out;
    for (const auto* list : {&s.leadingRecords, &s.extraRecords, &s.trailingRecords}) {
        int depth = 0;
        for (const ss::RawRecord& r : *list) {
            if (r.type == 0x0809)
                ++depth;
            if (depth > 0)
                out.push_back(r);
            if (r.type == 0x000A && depth > 0)
                --depth;
        }
    }
    return out;
}

// The link table comes back as read. A workbook that had none may get the table this engine
// writes by default (entry i is sheet i), which the format allows in its place: what counts
// then is that every 3-D reference of its formulas still names the same sheets.
bool sameLinks(const ss::Workbook& before, const ss::Workbook& after)
{
    if (!before.externSheets.empty() || !before.supBooks.empty())
        return after.externSheets.size() == before.externSheets.size();
    for (std::size_t i = 0; i < after.externSheets.size(); ++i) {
        const ss::ExternSheet& x = after.externSheets[i];
        if (x.firstSheet != i || x.lastSheet != i)
            return false;
    }
    const auto sameSheets = [&](const std::vector<std::uint8_t>& tokens) {
        for (const auto& c : ss::formula::dependencies(tokens).cells) {
            if (c.ixti < 0)
                continue;
            int f1 = 0, l1 = 0, f2 = 0, l2 = 0;
            const bool a = ss::formula::externSheetRange(before, static_cast<std::uint16_t>(c.ixti), f1, l1);
            const bool b = ss::formula::externSheetRange(after, static_cast<std::uint16_t>(c.ixti), f2, l2);
            if (a != b || (a && (f1 != f2 || l1 != l2)))
                return false;
        }
        return true;
    };
    for (const ss::DefinedName& n : before.names)
        if (!sameSheets(n.formula))
            return false;
    for (const ss::Sheet& s : before.sheets)
        for (const auto& [at, cell] : s.cells)
            if (!sameSheets(cell.formula))
                return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ss::Workbook wb;
    try {
        wb = ss::xls::readFile({data, size});
    } catch (const ss::FormatError&) {
        return 0;
    }
    const ss::Workbook asRead = wb;
    ss::recalculate(wb);
    draw(wb);
    if (wb.sheets.empty())
        return 0;   // chart sheets only: nothing to save
    std::vector<std::uint8_t> bytes;
    try {
        bytes = ss::xls::writeFile(wb);
    } catch (const ss::FormatError&) {
        __builtin_trap();   // whatever the reader took in, the writer must be able to put out
    }
    ss::Workbook again;
    try {
        again = ss::xls::readFile(bytes);
    } catch (const ss::FormatError&) {
        __builtin_trap();
    }
    if (again.sheets.size() != asRead.sheets.size() || again.keptSheets.size() != asRead.keptSheets.size()
        || again.tabs() != asRead.tabs() || again.names.size() != asRead.names.size()
        || !sameLinks(asRead, again))
        __builtin_trap();
    for (std::size_t i = 0; i < asRead.keptSheets.size(); ++i)
        if (again.keptSheets[i].substream != asRead.keptSheets[i].substream)
            __builtin_trap();
    for (std::size_t s = 0; s < asRead.sheets.size(); ++s) {
        const ss::Sheet& before = asRead.sheets[s];
        const ss::Sheet& after = again.sheets[s];
        if (!sameKept(unplaced(before.trailingRecords), unplaced(after.trailingRecords))
            || !sameKept(embedded(before), embedded(after)))
            __builtin_trap();
        for (const auto& [at, cell] : before.cells) {
            const ss::Cell* c = after.find(at.row, at.col);
            if (!c || c->formula != cell.formula || c->formulaData != cell.formulaData)
                __builtin_trap();
        }
    }
    return 0;
}
