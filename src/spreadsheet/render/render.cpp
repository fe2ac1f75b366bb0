// Placeholder until the renderer lands.
#include "spreadsheet/render/render.h"
namespace ss {
QSize renderedSize(const Workbook&, int, const RangeAddress&, const RenderOptions&) { return {}; }
QImage renderRange(const Workbook&, int, const RangeAddress&, const RenderOptions&) { return {}; }
}
