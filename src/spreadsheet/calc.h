#pragma once
// Recalculation of a workbook's formulas in dependency order.
#include "spreadsheet/model.h"

namespace ss {

// Recomputes every formula of every sheet and stores the results as the cells' cached values.
// Dependencies are evaluated first; a cell that takes part in a cycle gets an error value
// (#VALUE! -- Excel shows 0 with a warning; we choose a visible error) and nothing hangs.
void recalculate(Workbook& wb);

} // namespace ss
