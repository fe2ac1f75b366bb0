#pragma once
// Office Open XML spreadsheets (.xlsx) written from the model: the package parts of a workbook
// with its worksheets, shared strings and styles, zipped with libzip.
//
// What goes in: cell values, formulas as text with their cached results, number formats,
// fonts, fills, borders, alignment, column widths, row heights, merged cells, frozen panes,
// gridline display, defined names (built-in ones such as Print_Titles as _xlnm. names) and
// the page setup. Kept BIFF records that have no counterpart here (charts, VBA) are left out.
#include "spreadsheet/model.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ss::xlsx {

// The program that writes the package, named in docProps/app.xml ("1.2.0" is written 01.0002).
struct Producer {
    std::string application;
    std::string version;
};

// The package as bytes. Throws ss::IoError when the archive cannot be built.
std::vector<std::uint8_t> writeFile(const Workbook& wb, const Producer& producer = {});
// Writes writeFile() to `path`. Throws ss::IoError.
void save(const Workbook& wb, const std::string& path);

// The XML parts by their name in the package ("xl/workbook.xml" ...), before zipping.
std::map<std::string, std::string> packageParts(const Workbook& wb, const Producer& producer = {});
// docProps/app.xml, naming the producer.
std::string appPropertiesPart(const Producer& producer);

// Text escaped for XML content and attributes; characters XML 1.0 cannot carry become _xHHHH_.
std::string escapeXml(const std::string& utf8);
// The formula text of a defined name's reference as SpreadsheetML writes it: whole rows as
// "$4:$4" and whole columns as "$A:$B" instead of the BIFF8 column IV and row 65536 bounds.
std::string widenWholeLines(const std::string& formulaText);

} // namespace ss::xlsx
