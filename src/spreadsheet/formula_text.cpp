// BIFF8 tokens -> formula text as Excel shows it, shared-formula expansion, and the list of
// cells a formula reads.
#include "spreadsheet/formula.h"
#include "spreadsheet/formula_functions.h"
#include "spreadsheet/formula_internal.h"
#include "spreadsheet/formula_values.h"

#include <cctype>
#include <bit>
#include <charconv>
#include <cstring>

namespace ss::formula {

using namespace detail;

namespace {

const char* const kBadFormula = "#FORMULA?";

// Decodes the row and column words of a reference. For the N forms (relative to the cell) the
// relative parts are signed offsets from (baseRow, baseCol), wrapping around the sheet.
void decodeRef(std::uint16_t rowWord, std::uint16_t colWord, bool relativeForm, int baseRow, int baseCol,
               int& row, int& col, bool& rowRel, bool& colRel)
{
    rowRel = colWord & 0x8000;
    colRel = colWord & 0x4000;
    row = rowWord;
    col = colWord & 0xFF;
    if (relativeForm) {
        if (rowRel)
            row = ((baseRow + static_cast<std::int16_t>(rowWord)) % kMaxRows + kMaxRows) % kMaxRows;
        if (colRel)
            col = ((baseCol + static_cast<std::int8_t>(colWord & 0xFF)) % kMaxCols + kMaxCols) % kMaxCols;
    }
}

std::string refText(int row, int col, bool rowRel, bool colRel)
{
    std::string s;
    if (!colRel)
        s.push_back('$');
    s += columnName(col);
    if (!rowRel)
        s.push_back('$');
    s += std::to_string(row + 1);
    return s;
}

std::string numberText(double v)
{
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, res.ptr);
    for (char& c : s)
        if (c == 'e')
            c = 'E';
    return s;
}

std::string strToken(std::span<const std::uint8_t> t, std::size_t pos)
{
    const std::size_t cch = t[pos + 1];
    const bool wide = t[pos + 2] & 0x01;
    std::u16string u;
    u.reserve(cch);
    for (std::size_t i = 0; i < cch; ++i)
        u.push_back(wide ? static_cast<char16_t>(readU16(t, pos + 3 + 2 * i)) : static_cast<char16_t>(t[pos + 3 + i]));
    return utf16ToUtf8(u);
}

// An array constant as typed: {1,2;3,"a"}.
std::string arrayText(const Matrix& m)
{
    std::string s = "{";
    for (int r = 0; r < m.rows; ++r) {
        for (int c = 0; c < m.cols; ++c) {
            if (c > 0)
                s += ",";
            const Value& v = m.at(r, c);
            switch (v.kind()) {
            case Value::Kind::Number: s += numberText(v.number()); break;
            case Value::Kind::Boolean: s += v.boolean() ? "TRUE" : "FALSE"; break;
            case Value::Kind::Error: s += errorText(v.error()); break;
            case Value::Kind::Blank: break;
            case Value::Kind::Text:
                s += "\"";
                for (char ch : v.text()) {
                    s.push_back(ch);
                    if (ch == '"')
                        s.push_back('"');
                }
                s += "\"";
                break;
            }
        }
        if (r + 1 < m.rows)
            s += ";";
    }
    return s + "}";
}

// A sheet name as a formula shows it: quoted when it holds anything but letters, digits and '_'.
std::string sheetPrefix(const std::string& name)
{
    bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
    for (char ch : name)
        plain = plain && (std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || static_cast<unsigned char>(ch) >= 0x80);
    if (plain)
        return name + "!";
    std::string q = "'";
    for (char ch : name) {
        q.push_back(ch);
        if (ch == '\'')
            q.push_back('\'');
    }
    return q + "'!";
}

} // namespace

std::string decompile(std::span<const std::uint8_t> t, int row, int col)
{
    return decompile(t, {}, row, col);
}

std::string decompile(std::span<const std::uint8_t> t, std::span<const std::uint8_t> arrayData, int row, int col,
                      const std::function<std::string(std::uint16_t ixti)>& sheetName)
{
    std::size_t arrayPos = 0;
    auto sheetOf = [&](std::uint16_t ixti) {
        if (sheetName)
            return sheetPrefix(sheetName(ixti));
        return "'#" + std::to_string(ixti) + "'!";   // the link table is not at hand
    };
    std::vector<std::string> st;
    std::string lead, beforeOpen, beforeClose;   // pending whitespace from ptgAttr tSpace
    auto pop = [&](std::string& out) {
        if (st.empty())
            return false;
        out = std::move(st.back());
        st.pop_back();
        return true;
    };
    auto takeLead = [&] { std::string s = std::move(lead); lead.clear(); return s; };

    std::size_t pos = 0;
    while (pos < t.size()) {
        const std::size_t size = tokenSize(t, pos);
        if (size == 0)
            return kBadFormula;
        const std::uint8_t id = t[pos];
        const std::uint8_t base = baseId(id);
        std::string a, b;
        switch (base) {
        case kAdd: case kSub: case kMul: case kDiv: case kPower: case kConcat:
        case kLt: case kLe: case kEq: case kGe: case kGt: case kNe:
        case kIsect: case kUnion: case kRange: {
            static const char* const kOps[] = {"+", "-", "*", "/", "^", "&", "<", "<=", "=", ">=", ">", "<>", " ", ",", ":"};
            if (!pop(b) || !pop(a))
                return kBadFormula;
            st.push_back(a + takeLead() + kOps[base - kAdd] + b);
            break;
        }
        case kUplus: case kUminus:
            if (!pop(a))
                return kBadFormula;
            st.push_back(takeLead() + (base == kUplus ? "+" : "-") + a);
            break;
        case kPercent:
            if (!pop(a))
                return kBadFormula;
            st.push_back(a + takeLead() + "%");
            break;
        case kParen:
            if (!pop(a))
                return kBadFormula;
            st.push_back(takeLead() + beforeOpen + "(" + a + beforeClose + ")");
            beforeOpen.clear();
            beforeClose.clear();
            break;
        case kMissArg:
            st.push_back(takeLead());
            break;
        case kStr: {
            std::string s = takeLead() + "\"";
            for (char c : strToken(t, pos)) {
                s.push_back(c);
                if (c == '"')
                    s.push_back('"');
            }
            st.push_back(s + "\"");
            break;
        }
        case kAttr: {
            const std::uint8_t opt = t[pos + 1];
            if (opt & kAttrSum) {
                if (!pop(a))
                    return kBadFormula;
                st.push_back(takeLead() + "SUM(" + a + ")");
            } else if (opt & kAttrSpace) {
                const std::string ws(t[pos + 3], t[pos + 2] & 1 ? '\n' : ' ');
                switch (t[pos + 2]) {
                case 0: case 1: lead += ws; break;
                case 2: case 3: beforeOpen += ws; break;
                case 4: case 5: beforeClose += ws; break;
                default: break;   // before the '=' sign, which is not part of the text
                }
            }
            // tIf, tGoto, tChoose, tSemi, tBaxcel only steer evaluation.
            break;
        }
        case kErr: {
            const std::uint8_t code = t[pos + 1];
            bool known = false;
            for (ErrorCode e : {ErrorCode::Null, ErrorCode::Div0, ErrorCode::Value, ErrorCode::Ref,
                                ErrorCode::Name, ErrorCode::Num, ErrorCode::NA})
                known = known || static_cast<std::uint8_t>(e) == code;
            st.push_back(takeLead() + (known ? errorText(static_cast<ErrorCode>(code)) : "#VALUE!"));
            break;
        }
        case kBool:
            st.push_back(takeLead() + (t[pos + 1] ? "TRUE" : "FALSE"));
            break;
        case kInt:
            st.push_back(takeLead() + std::to_string(readU16(t, pos + 1)));
            break;
        case kNum: {
            std::uint64_t bits = 0;
            for (int i = 7; i >= 0; --i)
                bits = (bits << 8) | t[pos + 1 + static_cast<std::size_t>(i)];
            st.push_back(takeLead() + numberText(std::bit_cast<double>(bits)));
            break;
        }
        case kArray: {
            Matrix m;
            if (readArrayConstant(arrayData, arrayPos, m))
                st.push_back(takeLead() + arrayText(m));
            else
                st.push_back(takeLead() + "{...}");
            break;
        }
        case kFunc:
        case kFuncVar: {
            const auto call = readFunctionCall(t, pos, base == kFunc);
            if (!call)
                return kBadFormula;
            const std::size_t argc = call->argc;
            const std::uint16_t index = call->index;
            if (argc > st.size())
                return kBadFormula;
            std::string name;
            std::size_t first = st.size() - argc;
            if (index == 255) {
                // Add-in or macro function: the first argument is the function's name.
                if (argc == 0)
                    return kBadFormula;
                name = st[first];
                ++first;
            } else if (const FunctionInfo* f = functionByIndex(index)) {
                name = f->name;
            } else {
                name = "_FUNC" + std::to_string(index);
            }
            std::string s = takeLead() + name + beforeOpen + "(";
            for (std::size_t i = first; i < st.size(); ++i) {
                if (i > first)
                    s += ",";
                s += st[i];
            }
            s += beforeClose + ")";
            beforeOpen.clear();
            beforeClose.clear();
            st.resize(st.size() - argc);
            st.push_back(std::move(s));
            break;
        }
        case kName:
        case kNameX:
            st.push_back(takeLead() + "#NAME?");
            break;
        case kRef:
        case kRefN: {
            int r, c;
            bool rr, cr;
            decodeRef(readU16(t, pos + 1), readU16(t, pos + 3), base == kRefN, row, col, r, c, rr, cr);
            st.push_back(takeLead() + refText(r, c, rr, cr));
            break;
        }
        case kArea:
        case kAreaN: {
            int r1, c1, r2, c2;
            bool rr1, cr1, rr2, cr2;
            decodeRef(readU16(t, pos + 1), readU16(t, pos + 5), base == kAreaN, row, col, r1, c1, rr1, cr1);
            decodeRef(readU16(t, pos + 3), readU16(t, pos + 7), base == kAreaN, row, col, r2, c2, rr2, cr2);
            st.push_back(takeLead() + refText(r1, c1, rr1, cr1) + ":" + refText(r2, c2, rr2, cr2));
            break;
        }
        case kRef3d: {
            int r, c;
            bool rr, cr;
            decodeRef(readU16(t, pos + 3), readU16(t, pos + 5), false, row, col, r, c, rr, cr);
            st.push_back(takeLead() + sheetOf(readU16(t, pos + 1)) + refText(r, c, rr, cr));
            break;
        }
        case kArea3d: {
            int r1, c1, r2, c2;
            bool rr1, cr1, rr2, cr2;
            decodeRef(readU16(t, pos + 3), readU16(t, pos + 7), false, row, col, r1, c1, rr1, cr1);
            decodeRef(readU16(t, pos + 5), readU16(t, pos + 9), false, row, col, r2, c2, rr2, cr2);
            st.push_back(takeLead() + sheetOf(readU16(t, pos + 1)) + refText(r1, c1, rr1, cr1) + ":" +
                         refText(r2, c2, rr2, cr2));
            break;
        }
        case kRefErr: case kAreaErr: case kRefErr3d: case kAreaErr3d:
            st.push_back(takeLead() + "#REF!");
            break;
        case kMemArea:
            skipMemData(arrayData, arrayPos);
            break;
        case kMemErr: case kMemNoMem: case kMemFunc: case kMemAreaN: case kMemNoMemN:
            break;   // prefixes of a subexpression that follows; no text of their own
        default:
            return kBadFormula;   // ptgExp / ptgTbl and anything unknown
        }
        pos += size;
    }
    if (st.size() != 1)
        return kBadFormula;
    return st.back();
}

std::vector<std::uint8_t> expandShared(std::span<const std::uint8_t> t, int row, int col)
{
    std::vector<std::uint8_t> out(t.begin(), t.end());
    std::size_t pos = 0;
    while (pos < t.size()) {
        const std::size_t size = tokenSize(t, pos);
        if (size == 0)
            break;   // the rest is copied as it was
        const std::uint8_t base = baseId(t[pos]);
        // The cell a relative reference (row word at `at`, column word after `columnAt`) points to
        // from this cell, written over it; the column word keeps its relative flags.
        auto shift = [&](std::size_t rowAt, std::size_t columnAt) {
            int r, c;
            bool rr, cr;
            const std::uint16_t cw = readU16(t, columnAt);
            decodeRef(readU16(t, rowAt), cw, true, row, col, r, c, rr, cr);
            out[rowAt] = static_cast<std::uint8_t>(r & 0xFF);
            out[rowAt + 1] = static_cast<std::uint8_t>(r >> 8);
            out[columnAt] = static_cast<std::uint8_t>(c);
            out[columnAt + 1] = static_cast<std::uint8_t>(cw >> 8);
        };
        if (base == kRefN) {
            out[pos] = static_cast<std::uint8_t>(t[pos] - (kRefN - kRef));
            shift(pos + 1, pos + 3);
        } else if (base == kAreaN) {
            out[pos] = static_cast<std::uint8_t>(t[pos] - (kAreaN - kArea));
            shift(pos + 1, pos + 5);
            shift(pos + 3, pos + 7);
        } else if (base == kRef3d) {
            // Shared formulas keep the relative parts of 3-D references as offsets too, as
            // names do; the token stays a ptgRef3d.
            shift(pos + 3, pos + 5);
        } else if (base == kArea3d) {
            shift(pos + 3, pos + 7);
            shift(pos + 5, pos + 9);
        }
        pos += size;
    }
    return out;
}

std::vector<RangeAddress> references(std::span<const std::uint8_t> t)
{
    std::vector<RangeAddress> out;
    std::size_t pos = 0;
    while (pos < t.size()) {
        const std::size_t size = tokenSize(t, pos);
        if (size == 0)
            break;
        const std::uint8_t base = baseId(t[pos]);
        if (base == kRef) {
            const int r = readU16(t, pos + 1), c = readU16(t, pos + 3) & 0xFF;
            out.push_back({r, c, r, c});
        } else if (base == kArea) {
            int r1 = readU16(t, pos + 1), r2 = readU16(t, pos + 3);
            int c1 = readU16(t, pos + 5) & 0xFF, c2 = readU16(t, pos + 7) & 0xFF;
            if (r2 < r1) std::swap(r1, r2);
            if (c2 < c1) std::swap(c1, c2);
            out.push_back({r1, c1, r2, c2});
        }
        pos += size;
    }
    return out;
}

} // namespace ss::formula

namespace ss::formula {

Dependencies dependencies(std::span<const std::uint8_t> t)
{
    Dependencies out;
    eachRead(
        t, [&](int ixti, const RangeAddress& range) { out.cells.push_back({ixti, range}); },
        [&](std::uint16_t name) { out.names.push_back(name); });
    // What a formula reads is known only when it runs: an external name, OFFSET, INDIRECT.
    for (std::size_t pos = 0, size = 0; pos < t.size() && !out.dynamic; pos += size) {
        size = tokenSize(t, pos);
        if (size == 0)
            break;
        const std::uint8_t base = baseId(t[pos]);
        if (base == kNameX) {
            out.dynamic = true;
        } else if (base == kFunc || base == kFuncVar) {
            const auto call = readFunctionCall(t, pos, base == kFunc);
            out.dynamic = call && (call->index == static_cast<std::uint16_t>(Fn::Offset)
                                   || call->index == static_cast<std::uint16_t>(Fn::Indirect));
        }
    }
    return out;
}

} // namespace ss::formula
