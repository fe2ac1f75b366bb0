#pragma once
// Column widths fitted to what the cells hold, as a spreadsheet's AutoFit does, so that no
// number a user may enter turns into "###" and no text runs into the next text of its row.
#include "spreadsheet/model.h"

#include <QString>

namespace corvantis {

// The characters numbers are drawn with, as the reader's regional settings give them.
struct NumberMarks {
    QString decimal = QStringLiteral(".");
    QString group = QStringLiteral(",");
};

// Widens the columns of `range` on sheet `sheetIndex` of a calculated workbook:
// - each number in the range shows whole in its column, with the workbook's marks and with
//   `marks` (whichever is wider), and a little room to spare for readers that measure a
//   font differently;
// - each single-line text in the range ends before the text of the next filled cell of its
//   row begins, wherever that one's alignment puts it.
// Columns already wide enough keep their width: a template's layout stays where values fit.
// Returns the number of columns widened.
int autoFitColumns(ss::Workbook& wb, int sheetIndex, const ss::RangeAddress& range, const NumberMarks& marks);

} // namespace corvantis
