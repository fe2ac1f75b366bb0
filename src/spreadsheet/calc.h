#pragma once
// Recalculation of a workbook's formulas in dependency order.
#include "spreadsheet/model.h"

namespace ss {

// Recomputes every formula of every sheet and stores the results as the cells' cached values.
// Dependencies are evaluated first, across sheets and names. A formula the engine cannot compute
// keeps the result it holds. A cell that takes part in a cycle keeps the result its file holds,
// or gets #VALUE! when it has none (Excel shows 0 with a warning; we choose a visible error);
// nothing hangs.
void recalculate(Workbook& wb);

} // namespace ss
