#pragma once
// The in-memory workbook: what a BIFF8 file holds, in plain structs.
// Rows and columns are 0-based everywhere (A1 is row 0, column 0).
// Texts are UTF-8. The BIFF reader fills it, the writer saves it, the calculator
// updates cached formula results, the renderer draws from it.
#include "spreadsheet/value.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ss {

constexpr int kMaxRows = 65536;   // BIFF8 limits
constexpr int kMaxCols = 256;

struct CellAddress {
    int row = 0;
    int col = 0;
    auto operator<=>(const CellAddress&) const = default;
};

struct RangeAddress {
    int firstRow = 0, firstCol = 0, lastRow = 0, lastCol = 0;   // inclusive
    bool operator==(const RangeAddress&) const = default;
    bool contains(int r, int c) const { return r >= firstRow && r <= lastRow && c >= firstCol && c <= lastCol; }
};

// A record the engine does not interpret, kept to be written back unchanged.
struct RawRecord {
    std::uint16_t type = 0;
    std::vector<std::uint8_t> data;   // record body as read; a following CONTINUE is its own RawRecord
};

struct Font {
    std::uint16_t height = 180;        // in twentieths of a point (180 = 9 pt)
    bool italic = false;
    bool strikeout = false;
    std::uint16_t colorIndex = 0x7FFF; // palette index; 0x7FFF = window text (automatic)
    std::uint16_t weight = 400;        // 400 normal, 700 bold
    std::uint16_t escapement = 0;
    std::uint8_t underline = 0;
    std::uint8_t family = 0;
    std::uint8_t charset = 0;
    std::string name = "Arial";
    bool bold() const { return weight >= 700; }
};

enum class HAlign : std::uint8_t { General = 0, Left = 1, Center = 2, Right = 3, Fill = 4, Justify = 5, CenterAcross = 6 };
enum class VAlign : std::uint8_t { Top = 0, Center = 1, Bottom = 2, Justify = 3 };

// Border line styles as stored in XF records (0 none, 1 thin, 2 medium, 5 thick, 6 double ...).
struct Border {
    std::uint8_t style = 0;
    std::uint8_t colorIndex = 64;   // 64 = automatic
    bool operator==(const Border&) const = default;
};

struct Xf {
    std::uint16_t fontIndex = 0;    // BIFF font index (index 4 does not exist in BIFF; see Workbook::font)
    std::uint16_t formatIndex = 0;  // number format index (built-in or Workbook::formats)
    bool locked = true;
    bool hidden = false;
    bool isStyle = false;
    std::uint16_t parent = 0;       // parent style XF, 0xFFF for style XFs
    HAlign hAlign = HAlign::General;
    bool wrap = false;
    VAlign vAlign = VAlign::Bottom;
    std::uint8_t rotation = 0;
    std::uint8_t indent = 0;
    bool shrink = false;
    std::uint8_t usedAttributes = 0; // the six "attribute used" flags, as stored
    Border left, right, top, bottom;
    std::uint8_t fillPattern = 0;          // 0 none, 1 solid ...
    std::uint8_t fillForeColor = 64;       // palette index
    std::uint8_t fillBackColor = 65;
    // The 20-byte XF record as read (empty for new XFs): the writer takes the bits the fields
    // above do not name (diagonal borders, reading order, 123-prefix) from it.
    std::vector<std::uint8_t> raw;
};

struct Cell {
    Value value;                          // the constant, or the cached result of the formula
    std::uint16_t xf = 15;                // index into Workbook::xfs (15 = default cell XF)
    std::vector<std::uint8_t> formula;    // BIFF8 token array (rgce) of a formula; empty for constants
    std::vector<std::uint8_t> formulaData;// the constants of the formula's array tokens (rgcb), which follow rgce in the record
    bool isFormula() const { return !formula.empty(); }
};

// An array formula (ARRAY record): computed once for its whole range, each cell of the range
// showing its element of the result. The cells of the range are formula cells themselves.
struct ArrayFormula {
    RangeAddress range;
    std::vector<std::uint8_t> formula;    // rgce
    std::vector<std::uint8_t> formulaData;// rgcb
    std::uint16_t options = 0;            // the ARRAY record's flags (fAlwaysCalc)
};

// A shared formula (SHRFMLA record) as read. Its cells hold the formula made ordinary for each
// of them; a cell whose tokens still are that expansion is written back pointing at the record.
struct SharedFormula {
    RangeAddress range;
    CellAddress master;                   // the cell whose FORMULA record the SHRFMLA follows
    std::vector<std::uint8_t> formula;    // rgce, relative to the cell (ptgRefN, ptgAreaN)
    std::vector<std::uint8_t> record;     // the SHRFMLA body, written back unchanged
};

// A data table (TABLE record, what-if analysis). Its result cells hold their values and no
// formula; those still inside `range` are written back as the table's cells.
struct DataTable {
    RangeAddress range;                   // the result cells
    std::vector<std::uint8_t> tokens;     // the cells' ptgTbl token as read
    std::vector<std::uint8_t> record;     // the TABLE body, written back unchanged
};

struct ColumnInfo {
    int firstCol = 0, lastCol = 0;       // inclusive
    std::uint16_t width = 2340;          // in 1/256 of the width of '0' in the default font
    std::uint16_t xf = 15;
    bool hidden = false;
    std::uint16_t options = 0;           // raw option bits (outline level etc.)
};

struct RowInfo {
    std::uint16_t height = 255;          // twips
    std::uint16_t xf = 15;
    bool customHeight = false;
    bool hidden = false;
    bool hasDefaultXf = false;
    // The ROW record's other bits as read: outline level (bits 0-2) and collapsed (bit 4) of its
    // flags, and the thick-border and phonetic bits (12-14) of its XF word.
    std::uint16_t options = 0;
};

struct Pane {
    bool frozen = false;
    int splitCols = 0;                   // frozen columns left of the split (2 = A:B frozen)
    int splitRows = 0;                   // frozen rows above the split (5 = rows 1-5 frozen)
    int topRow = 0, leftCol = 0;         // first visible row/column of the scrolling pane
    std::uint8_t activePane = 3;
};

struct PageSetup {
    std::uint16_t paperSize = 1;         // 1 = Letter
    std::uint16_t scale = 100;           // percent
    std::uint16_t fitWidth = 1, fitHeight = 1;
    bool landscape = false;
    bool fitToPage = false;              // the WSBOOL fit-to-page flag
    double headerMargin = 0.5, footerMargin = 0.5;   // inches
};

struct Sheet {
    std::string name;
    std::map<CellAddress, Cell> cells;   // ordered row by row, then column
    std::vector<ColumnInfo> columns;
    std::map<int, RowInfo> rows;
    std::uint16_t defaultColWidth = 8;   // DEFCOLWIDTH, in characters
    std::uint16_t defaultRowHeight = 255;// DEFAULTROWHEIGHT, twips
    std::vector<RangeAddress> merged;
    bool showGridlines = true;
    bool selected = false;
    Pane pane;
    CellAddress activeCell;              // SELECTION
    // The SELECTION records as read, one per pane: written back while the active pane's still
    // holds activeCell and every pane they name is still there.
    std::vector<RawRecord> selections;
    PageSetup page;
    std::vector<RawRecord> extraRecords; // sheet records not understood, in the order read; written back before WINDOW2
    std::vector<ArrayFormula> arrayFormulas;
    std::vector<SharedFormula> sharedFormulas;
    std::vector<DataTable> dataTables;
    // Records kept as read, besides extraRecords: those before the cell table (protection, page
    // breaks ...), written after the page setup, and those after the window records (conditional
    // formats, data validation, hyperlinks ...), written before EOF.
    std::vector<RawRecord> leadingRecords;
    std::vector<RawRecord> trailingRecords;
    std::uint8_t visibility = 0;         // BOUNDSHEET: 0 visible, 1 hidden, 2 very hidden

    Cell* find(int row, int col);
    const Cell* find(int row, int col) const;
    Cell& at(int row, int col);          // creates a blank cell with the default XF
    void erase(int row, int col);
    // The width of column `col` in 1/256 character units, from COLINFO or DEFCOLWIDTH.
    std::uint16_t columnWidth(int col) const;
    // Row height in twips, from ROW or the default.
    std::uint16_t rowHeight(int row) const;
    // Smallest range holding every cell (constants, formulas and formatted blanks); nullopt when empty.
    std::optional<RangeAddress> usedRange() const;
};

struct DefinedName {
    std::string name;                    // for built-in names, the built-in code as one char (7 = Print_Titles)
    bool builtin = false;
    int sheetIndex = 0;                  // 0 = global, else 1-based sheet the name is local to
    std::uint16_t options = 0;
    std::vector<std::uint8_t> formula;   // rgce
    // The NAME record as read (with its array constants, descriptions and CONTINUE bodies);
    // written back unchanged while the fields above still say what it says.
    std::vector<std::uint8_t> raw;
};

// One EXTERNSHEET entry (XTI), which 3-D references and names point at by index: the sheets
// firstSheet..lastSheet of the workbook that SUPBOOK record `supBook` names.
struct ExternSheet {
    std::uint16_t supBook = 0;
    std::uint16_t firstSheet = 0, lastSheet = 0;   // 0xFFFE: the workbook as a whole; 0xFFFF: a deleted sheet
};

// What a SUPBOOK record names.
enum class SupBookKind : std::uint8_t { Self, AddIn, External };

// A sheet the engine carries without modelling it: chart sheet, macro sheet, dialog sheet,
// VB module. Its substream is written back byte for byte.
struct KeptSheet {
    std::string name;
    std::uint8_t type = 0;                // BOUNDSHEET: 0 worksheet or dialog, 1 macro sheet, 2 chart, 6 VB module
    std::uint8_t visibility = 0;
    std::vector<std::uint8_t> substream;  // BOF ... EOF
};

// The link table as the file held it: the records of each SUPBOOK (with the EXTERNNAME, XCT
// and CRN records after it) and the EXTERNSHEET entries with sheet numbers counted in tabs,
// chart and macro sheets included. The writer uses them wherever the model still agrees.
struct LinkRecords {
    std::vector<std::vector<RawRecord>> supBooks;
    std::vector<ExternSheet> externSheets;
};

// A stream or storage of the compound file other than the Workbook stream (VBA project,
// summary information, embedded objects ...), kept byte for byte. "a/b" is b inside storage a.
struct FileStream {
    std::string name;
    std::vector<std::uint8_t> data;
};
struct FileStorage {
    std::string name;                     // "" = the root storage
    std::array<std::uint8_t, 16> clsid{};
};

struct Workbook {
    std::vector<Font> fonts;                       // as stored; BIFF font index i>=4 is fonts[i-1]
    std::map<std::uint16_t, std::string> formats;  // custom number formats by index (>= 164)
    std::vector<Xf> xfs;
    std::vector<RawRecord> styles;                 // STYLE records, kept as read
    std::vector<std::uint32_t> palette;            // PALETTE colours (0xRRGGBB) for indexes 8..; empty = default
    std::vector<Sheet> sheets;
    std::vector<DefinedName> names;
    bool date1904 = false;
    int activeSheet = 0;
    std::uint16_t codepage = 1200;
    std::vector<RawRecord> extraGlobals;           // globals not understood, written back after the styles
    // The link table of 3-D references: EXTERNSHEET entries and the kind of each SUPBOOK. Empty
    // externSheets means entry i is sheet i of this workbook, the table this engine writes.
    std::vector<ExternSheet> externSheets;
    std::vector<SupBookKind> supBooks;
    // For ExternSheet entries of this workbook (SupBookKind::Self), firstSheet and lastSheet
    // are indexes into `sheets`; linkRecords keeps them as the file counted them.
    LinkRecords linkRecords;
    // Names local to a sheet count it in `sheets` (DefinedName::sheetIndex); the NAME record as
    // read is in DefinedName::raw.

    // The order of the sheet tabs: i >= 0 is sheets[i], i < 0 is keptSheets[-i - 1]. Empty means
    // `sheets` in order; sheets it leaves out follow the listed ones.
    std::vector<int> tabOrder;
    std::vector<KeptSheet> keptSheets;
    // Globals kept as read besides extraGlobals: those after the sheet list (drawing group ...),
    // written after the names, and those after the string table, written before EOF.
    std::vector<RawRecord> globalsAfterSheets;
    std::vector<RawRecord> globalsAfterStrings;
    // The shared string table as read, kept when kept sheets may refer to it by index; the
    // writer puts these strings first, at their old indexes.
    std::vector<std::string> sharedStrings;
    // The formatting runs (first character, font index) of the strings read with them, by text:
    // a cell that still holds such a text is saved with its runs.
    std::map<std::string, std::vector<std::pair<std::uint16_t, std::uint16_t>>> stringRuns;
    // The rest of the compound file, kept as read.
    std::vector<FileStream> fileStreams;
    std::vector<FileStorage> fileStorages;

    // A workbook with the defaults every BIFF8 writer emits: 4+ fonts, the 21 standard XFs, STYLE records.
    static Workbook makeDefault();

    const Font& font(std::uint16_t biffIndex) const;   // handles the missing index 4
    std::uint16_t addFont(const Font& f);               // returns the BIFF index
    std::uint16_t addFormat(const std::string& code);   // existing built-in or custom index, else a new one
    std::uint16_t addXf(const Xf& xf);                  // returns the index
    std::string formatCode(std::uint16_t index) const;  // built-in or custom format text
    std::uint32_t colorRgb(std::uint16_t index) const;  // palette lookup, 0xRRGGBB
    Sheet* sheet(const std::string& name);

    // The tab order with every sheet in it exactly once (see tabOrder).
    std::vector<int> tabs() const;
    // The index in `sheets` of the worksheet at tab position `tab`; -1 for a kept sheet or none.
    int sheetOfTab(int tab) const;
    // The EXTERNSHEET index of a reference to sheet `sheet` of this workbook, adding an entry
    // (and the workbook's own SUPBOOK) when the table has none yet.
    std::uint16_t externSheetIndex(int sheet);
};

// The colour (0xRRGGBB) of palette index 8..63 in the default BIFF8 palette; black otherwise.
std::uint32_t defaultPaletteRgb(int index);

// The built-in number format text for an index below 164 ("General", "#,##0", "mmm-yy" ...);
// empty when the index is not a built-in one.
std::string builtinFormatCode(std::uint16_t index);

} // namespace ss
