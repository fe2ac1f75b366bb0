#pragma once
// The example figures behind "Load Sample/Example Data".
#include <QDate>

namespace corvantis::sheet {

class InputSheet;

// The fiscal start of the example: the first day of the month three calendar months before today's.
QDate sampleStartDate(const QDate& today);

// Fills the company name, the fiscal start, the month headers and a few cells of lines 0, 7, 14,
// 15 and 18 (steps 100 to 154, reported as "Form1.PushButton7_Click"). Every text goes in
// through the cells' change handlers, which store it; all other cells keep their text.
void loadSampleData(InputSheet& sheet, const QDate& today);

} // namespace corvantis::sheet
