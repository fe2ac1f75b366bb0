// Placeholder until the calculator lands.
#include "spreadsheet/calc.h"
namespace ss { void recalculate(Workbook&) {} }
