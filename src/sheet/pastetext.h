#pragma once
// Text that moves between the sheet and a spreadsheet through the clipboard: columns split by
// tabs, rows by line breaks, as spreadsheets put a block of cells there. Reading a block,
// placing it on the sheet from one cell rightwards and downwards, and writing a line out.
#include "core/inputsfile.h"
#include "sheet/sheetlayout.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace corvantis::sheet {

// The rows of a clipboard text: tabs between columns, a line break ("\n", "\r\n" or "\r")
// between rows, a trailing line break ignored. A field in double quotes may hold tabs, line
// breaks and doubled quotes, as spreadsheets quote such cells.
std::vector<QStringList> splitClipboardRows(const QString& text);

// True when the text is a single value (one row, one column): it is pasted into the cell as
// typing would put it there.
bool isSingleValue(const std::vector<QStringList>& rows);

struct PastePlacement {
    struct Target {
        int line;
        int column;   // 0 name, 1 IND. %, 2..13 months
        QString text;
    };
    std::vector<Target> targets;   // in reading order
    int outside = 0;               // values that fell beyond the last column or the last line
};

// Places the rows from (line, column) rightwards in the column order name, IND. %, months and
// downwards in the line order of the three sections.
PastePlacement placeRows(const std::vector<QStringList>& rows, int line, int column);

// One line as a spreadsheet row: the inputs file's columns (lineFields: name, IND. %, the twelve
// amounts as plain numbers), tab-separated; tabs and line breaks inside a text become blanks so
// the row stays one row. plainAmountText is the inputs file's as well.
QString lineAsRow(const QString& name, const QString& indPercent, const QStringList& amounts);

} // namespace corvantis::sheet
