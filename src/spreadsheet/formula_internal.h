#pragma once
// Shared pieces of the formula compiler, decompiler and evaluator: token layout ([MS-XLS] 2.5.198)
// and the function table with the operand class of each parameter.
#include "spreadsheet/formula.h"

#include "spreadsheet/unicode.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace ss::formula::detail {

// Base token ids (class bits 0x60 stripped for operands).
enum Ptg : std::uint8_t {
    kExp = 0x01, kTbl = 0x02,
    kAdd = 0x03, kSub = 0x04, kMul = 0x05, kDiv = 0x06, kPower = 0x07, kConcat = 0x08,
    kLt = 0x09, kLe = 0x0A, kEq = 0x0B, kGe = 0x0C, kGt = 0x0D, kNe = 0x0E,
    kIsect = 0x0F, kUnion = 0x10, kRange = 0x11,
    kUplus = 0x12, kUminus = 0x13, kPercent = 0x14, kParen = 0x15, kMissArg = 0x16,
    kStr = 0x17, kExtend = 0x18, kAttr = 0x19, kErr = 0x1C, kBool = 0x1D, kInt = 0x1E, kNum = 0x1F,
    kArray = 0x20, kFunc = 0x21, kFuncVar = 0x22, kName = 0x23, kRef = 0x24, kArea = 0x25,
    kMemArea = 0x26, kMemErr = 0x27, kMemNoMem = 0x28, kMemFunc = 0x29, kRefErr = 0x2A, kAreaErr = 0x2B,
    kRefN = 0x2C, kAreaN = 0x2D, kMemAreaN = 0x2E, kMemNoMemN = 0x2F,
    kNameX = 0x39, kRef3d = 0x3A, kArea3d = 0x3B, kRefErr3d = 0x3C, kAreaErr3d = 0x3D,
};

// ptgAttr option bits.
enum Attr : std::uint8_t {
    kAttrSemi = 0x01, kAttrIf = 0x02, kAttrChoose = 0x04, kAttrGoto = 0x08,
    kAttrSum = 0x10, kAttrBaxcel = 0x20, kAttrSpace = 0x40,
};

// Operand token class, added to the base id of operand tokens (ptgRef 0x24 / 0x44 / 0x64).
enum TokenClass : std::uint8_t { kClassRef = 0x20, kClassValue = 0x40, kClassArray = 0x60 };

inline std::uint8_t baseId(std::uint8_t ptg) { return ptg >= 0x20 ? static_cast<std::uint8_t>((ptg & 0x1F) | 0x20) : ptg; }

inline std::uint16_t readU16(std::span<const std::uint8_t> t, std::size_t pos)
{
    return static_cast<std::uint16_t>(t[pos] | (t[pos + 1] << 8));
}

// Size in bytes of the token starting at `pos`, including its id byte; 0 when the token is
// unknown or runs past the end. ptgStr and ptgAttr(tChoose) have variable sizes.
std::size_t tokenSize(std::span<const std::uint8_t> t, std::size_t pos);

// The size of each token whose id alone gives it; 0 for ptgStr, ptgAttr and the ids tokenSize
// does not know (all 0 until the table is filled at start-up, when tokenSize answers alone).
extern const std::array<std::uint8_t, 256> kFixedTokenSize;

// tokenSize for the loops that step over every token of every formula: the common tokens
// without a call.
inline std::size_t nextTokenSize(std::span<const std::uint8_t> t, std::size_t pos)
{
    if (pos >= t.size())
        return 0;
    const std::size_t left = t.size() - pos;
    const std::uint8_t id = t[pos];
    if (const std::size_t n = kFixedTokenSize[id]; n != 0)
        return n <= left ? n : 0;
    if (id == kAttr && left >= 4 && !(t[pos + 1] & kAttrChoose))
        return 4;
    if (id == kStr && left >= 3) {
        const std::size_t n = 3 + std::size_t(t[pos + 1]) * ((t[pos + 2] & 0x01) ? 2 : 1);
        return n <= left ? n : 0;
    }
    return tokenSize(t, pos);
}

// The function a ptgFunc or ptgFuncVar token at `pos` calls and how many arguments it takes off
// the stack. A ptgFunc's count is known only from the table, so an unknown one gives nullopt.
// functionByIndex through a table by number, for the evaluator's every call.
const FunctionInfo* functionInfo(std::uint16_t index);

struct FunctionCall {
    std::uint16_t index;
    std::size_t argc;
    const FunctionInfo* info;   // null for a ptgFuncVar of a function the table lacks
};
inline std::optional<FunctionCall> readFunctionCall(std::span<const std::uint8_t> t, std::size_t pos, bool fixed)
{
    if (fixed) {
        const std::uint16_t index = readU16(t, pos + 1);
        const FunctionInfo* f = functionInfo(index);
        if (!f)
            return std::nullopt;
        return FunctionCall{index, static_cast<std::size_t>(f->minArgs), f};
    }
    const std::uint16_t index = readU16(t, pos + 2) & 0x7FFF;
    return FunctionCall{index, static_cast<std::size_t>(t[pos + 1] & 0x7F), functionInfo(index)};
}

// Walks what tokens read, in token order, without building a list: `cells(ixti, range)` for
// each reference (ixti -1 for the formula's own sheet, else its EXTERNSHEET index), `name(index)`
// for each defined name (1-based). Relative shared-formula tokens are not references here.
template <class Cells, class Name>
void eachRead(std::span<const std::uint8_t> t, Cells&& cells, Name&& name)
{
    std::size_t pos = 0;
    while (pos < t.size()) {
        const std::size_t size = nextTokenSize(t, pos);
        if (size == 0)
            break;
        switch (baseId(t[pos])) {
        case kRef: {
            const int r = readU16(t, pos + 1), c = readU16(t, pos + 3) & 0xFF;
            cells(-1, RangeAddress{r, c, r, c});
            break;
        }
        case kArea: {
            int r1 = readU16(t, pos + 1), r2 = readU16(t, pos + 3);
            int c1 = readU16(t, pos + 5) & 0xFF, c2 = readU16(t, pos + 7) & 0xFF;
            if (r2 < r1) std::swap(r1, r2);
            if (c2 < c1) std::swap(c1, c2);
            cells(-1, RangeAddress{r1, c1, r2, c2});
            break;
        }
        case kRef3d: {
            const int r = readU16(t, pos + 3), c = readU16(t, pos + 5) & 0xFF;
            cells(static_cast<int>(readU16(t, pos + 1)), RangeAddress{r, c, r, c});
            break;
        }
        case kArea3d: {
            int r1 = readU16(t, pos + 3), r2 = readU16(t, pos + 5);
            int c1 = readU16(t, pos + 7) & 0xFF, c2 = readU16(t, pos + 9) & 0xFF;
            if (r2 < r1) std::swap(r1, r2);
            if (c2 < c1) std::swap(c1, c2);
            cells(static_cast<int>(readU16(t, pos + 1)), RangeAddress{r1, c1, r2, c2});
            break;
        }
        case kName:
            name(readU16(t, pos + 1));
            break;
        default:
            break;
        }
        pos += size;
    }
}

// A function table entry with the operand class of its parameters: one letter per parameter,
// 'R' reference, 'V' value, 'A' array; the last letter repeats for further parameters.
struct FunctionEntry {
    FunctionInfo info;
    const char* params;
};
const FunctionEntry* functionEntryByIndex(std::uint16_t index);
const FunctionEntry* functionEntryByName(std::string_view upperName);
char paramClass(const FunctionEntry& f, int argIndex);

// "A", "IV"...
std::string columnName(int col);
// UTF-8 <-> the Latin-1/UTF-16 text of ptgStr.
using ss::utf16ToUtf8;
using ss::utf8ToUtf16;

} // namespace ss::formula::detail
