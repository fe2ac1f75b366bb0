#pragma once
// BIFF8 record layer: bounds-checked record iteration and field reading, record writing with
// CONTINUE splitting, BIFF8 unicode strings, RK numbers and the shared string table.
#include "spreadsheet/unicode.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <map>
#include <vector>

namespace ss::biff {

// [MS-XLS] 2.1.4: a record body holds at most 8224 bytes; longer data goes on in CONTINUE.
constexpr std::size_t kMaxRecordData = 8224;

namespace rt {
constexpr std::uint16_t Formula = 0x0006, Eof = 0x000A, CalcCount = 0x000C, CalcMode = 0x000D,
    Precision = 0x000E, RefMode = 0x000F, Delta = 0x0010, Iteration = 0x0011, Protect = 0x0012,
    Password = 0x0013, Header = 0x0014, Footer = 0x0015, ExternSheet = 0x0017, Name = 0x0018,
    WindowProtect = 0x0019, Selection = 0x001D, DateMode = 0x0022, ExternName = 0x0023,
    LeftMargin = 0x0026, RightMargin = 0x0027, TopMargin = 0x0028, BottomMargin = 0x0029,
    PrintHeaders = 0x002A, PrintGridlines = 0x002B, Font = 0x0031, Continue = 0x003C,
    Window1 = 0x003D, Backup = 0x0040, Pane = 0x0041, CodePage = 0x0042, DefColWidth = 0x0055,
    WriteAccess = 0x005C, SaveRecalc = 0x005F, ColInfo = 0x007D, Guts = 0x0080, WsBool = 0x0081,
    GridSet = 0x0082, HCenter = 0x0083, VCenter = 0x0084, BoundSheet = 0x0085, Country = 0x008C,
    HideObj = 0x008D, Palette = 0x0092, Setup = 0x00A1, Scl = 0x00A0, MulRk = 0x00BD,
    MulBlank = 0x00BE, Mms = 0x00C1, RString = 0x00D6, DbCell = 0x00D7, BookBool = 0x00DA,
    FilePass = 0x002F, Xct = 0x0059, Crn = 0x005A, Xf = 0x00E0, InterfaceHdr = 0x00E1, InterfaceEnd = 0x00E2, MergedCells = 0x00E5,
    Sst = 0x00FC, LabelSst = 0x00FD, ExtSst = 0x00FF, TabId = 0x013D, UsesElfs = 0x0160,
    Dsf = 0x0161, SupBook = 0x01AE, RefreshAll = 0x01B7, Dimensions = 0x0200, Blank = 0x0201,
    Number = 0x0203, Label = 0x0204, BoolErr = 0x0205, String = 0x0207, Row = 0x0208,
    Index = 0x020B, Array = 0x0221, DefaultRowHeight = 0x0225, Table = 0x0236,
    Window2 = 0x023E, Formula3 = 0x0206, Formula4 = 0x0406, Rk = 0x027E, Style = 0x0293, Format = 0x041E, ShrFmla = 0x04BC,
    Bof = 0x0809;
}

struct Record {
    std::uint16_t type = 0;
    std::span<const std::uint8_t> data;
    std::size_t offset = 0;   // stream offset of the record header
};

// Walks the records of a stream. Every header and body is checked against the stream's end.
class RecordReader {
public:
    explicit RecordReader(std::span<const std::uint8_t> stream, std::size_t pos = 0);
    bool atEnd() const { return pos_ >= stream_.size(); }
    std::size_t position() const { return pos_; }
    // The type of the next record, or nullopt at the end (or before a truncated header).
    std::optional<std::uint16_t> peekType() const;
    Record next();   // throws FormatError on a truncated, overlong or oversized record

private:
    std::span<const std::uint8_t> stream_;
    std::size_t pos_ = 0;
};

// Little-endian fields of one record body; reading past the end throws FormatError naming the record.
class Cursor {
public:
    Cursor(std::span<const std::uint8_t> data, const char* what) : data_(data), what_(what) {}
    // Inline, for the fields of every cell record; past the end they throw FormatError.
    std::uint8_t u8() { return at(1)[0]; }
    std::uint16_t u16()
    {
        const std::uint8_t* b = at(2);
        return static_cast<std::uint16_t>(b[0] | b[1] << 8);
    }
    std::uint32_t u32()
    {
        const std::uint8_t* b = at(4);
        return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
    }
    double f64();
    std::span<const std::uint8_t> bytes(std::size_t n) { return {at(n), n}; }
    void skip(std::size_t n) { at(n); }
    std::size_t remaining() const { return data_.size() - pos_; }
    std::size_t position() const { return pos_; }
    [[noreturn]] void fail(const std::string& why) const;

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    const char* what_;

    // The next n bytes, stepped over.
    const std::uint8_t* at(std::size_t n)
    {
        if (n > remaining()) [[unlikely]]
            tooShort(n);
        const std::uint8_t* p = data_.data() + pos_;
        pos_ += n;
        return p;
    }
    [[noreturn]] void tooShort(std::size_t n) const;
};

// Builds record bodies and streams.
class ByteWriter {
public:
    void u8(std::uint8_t v) { b_.push_back(v); }
    void u16(std::uint16_t v);
    void u32(std::uint32_t v);
    void f64(double v);
    void bytes(std::span<const std::uint8_t> v) { b_.insert(b_.end(), v.begin(), v.end()); }
    void zeros(std::size_t n) { b_.insert(b_.end(), n, 0); }
    void patch32(std::size_t pos, std::uint32_t v);
    std::size_t size() const { return b_.size(); }
    std::vector<std::uint8_t>& data() { return b_; }
    const std::vector<std::uint8_t>& data() const { return b_; }

private:
    std::vector<std::uint8_t> b_;
};

// Appends header and body; a body longer than 8224 bytes goes on in CONTINUE records.
void appendRecord(std::vector<std::uint8_t>& out, std::uint16_t type, std::span<const std::uint8_t> body);

// --- text ---
using ss::appendUtf8;
using ss::utf16ToUtf8;
using ss::utf8ToUtf16;
// cch characters, compressed (one byte, Latin-1) or UTF-16LE, as UTF-8.
std::string readChars(Cursor& c, std::size_t cch, bool highByte);
// XLUnicodeString (cchBytes 2) or ShortXLUnicodeString (cchBytes 1); rich runs and phonetic data skipped.
std::string readUnicodeString(Cursor& c, int cchBytes);
// The same for a record some writers cut a few bytes short: the characters present are read,
// as LibreOffice reads them, and a missing flags byte or tail is no error.
std::string readUnicodeStringLenient(Cursor& c, int cchBytes);
// The same without the count: the flags byte and the characters of a known count.
std::string readUnicodeStringNoCch(Cursor& c, std::size_t cch);
// Writes compressed when every character fits one byte. Longer texts are cut at the count's limit.
void writeUnicodeString(ByteWriter& w, std::string_view utf8, int cchBytes);
void writeUnicodeStringNoCch(ByteWriter& w, const std::u16string& text);
bool fitsCompressed(const std::u16string& text);

// --- RK numbers ([MS-XLS] 2.5.218) ---
double decodeRk(std::uint32_t rk);
// The RK form of a number when one holds it exactly.
std::optional<std::uint32_t> encodeRk(double value);

// --- shared string table ---
// The strings of an SST record followed by its CONTINUE bodies (segments). A string's characters
// may break at a segment boundary, where the next segment starts with a fresh flags byte.
// A table claiming more strings than its data holds is cut to the strings present.
// With `runs`, each string's formatting runs (first character, font index) go there as well.
using FormatRuns = std::vector<std::pair<std::uint16_t, std::uint16_t>>;
std::vector<std::string> parseSst(const std::vector<std::span<const std::uint8_t>>& segments,
                                  std::vector<FormatRuns>* runs = nullptr);

struct SstRecords {
    std::vector<std::vector<std::uint8_t>> bodies;   // SST body, then CONTINUE bodies
    std::uint16_t bucketSize = 8;                     // strings per EXTSST bucket
    struct Start { std::size_t record, offset; };     // where each bucket's first string starts
    std::vector<Start> bucketStarts;
};
// `runs` gives the formatting runs of the strings that have them, by text.
SstRecords buildSst(const std::vector<std::string>& strings, std::uint32_t totalReferences,
                    const std::map<std::string, FormatRuns>* runs = nullptr);

} // namespace ss::biff
