// Evaluation of BIFF8 tokens: a stack machine over the RPN, with spreadsheet coercions, arrays
// and references into the other sheets of the workbook.
// The jump tokens Excel writes for IF and CHOOSE (tAttrIf, tAttrGoto, tAttrChoose) are stepped
// over: every branch is evaluated and IF/CHOOSE pick their result, which gives the same values,
// and what the engine cannot compute in a branch not taken does not spoil the result.
#include "spreadsheet/formula.h"
#include "spreadsheet/formula_functions.h"
#include "spreadsheet/formula_internal.h"
#include "spreadsheet/formula_values.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <memory>

namespace ss::formula {

using namespace detail;

namespace {

bool validError(std::uint8_t code)
{
    for (ErrorCode e : {ErrorCode::Null, ErrorCode::Div0, ErrorCode::Value, ErrorCode::Ref,
                        ErrorCode::Name, ErrorCode::Num, ErrorCode::NA})
        if (static_cast<std::uint8_t>(e) == code)
            return true;
    return false;
}

// The arithmetic operator `op` (add to power) on two numbers.
inline Value numbersArithmetic(std::uint8_t op, double x, double y)
{
    double r;
    switch (op) {
    case kAdd: r = x + y; break;
    case kSub: r = x - y; break;
    case kMul: r = x * y; break;
    case kDiv:
        if (y == 0)
            return ErrorCode::Div0;
        r = x / y;
        break;
    default:   // kPower
        if (x == 0 && y == 0)
            return ErrorCode::Num;
        if (x == 0 && y < 0)
            return ErrorCode::Div0;
        r = std::pow(x, y);
        break;
    }
    return numberResult(r);
}

// The comparison operator `op` given how its operands compare (-1, 0, 1).
inline bool compared(std::uint8_t op, int c)
{
    switch (op) {
    case kLt: return c < 0;
    case kLe: return c <= 0;
    case kEq: return c == 0;
    case kGe: return c >= 0;
    case kGt: return c > 0;
    default: return c != 0;   // kNe
    }
}

Value arithmetic(std::uint8_t op, const Value& a, const Value& b)
{
    double x, y;
    ErrorCode e;
    if (a.isNumber() && b.isNumber()) {
        x = a.number();
        y = b.number();
    } else if (!toNumber(a, x, e) || !toNumber(b, y, e)) {
        return e;
    }
    return numbersArithmetic(op, x, y);
}

Value comparison(std::uint8_t op, const Value& a, const Value& b)
{
    if (a.isError())
        return a;
    if (b.isError())
        return b;
    return compared(op, compareValues(a, b));
}

Value binary(std::uint8_t op, const Value& a, const Value& b)
{
    if (op == kConcat) {
        std::string x, y;
        ErrorCode e;
        if (!toText(a, x, e) || !toText(b, y, e))
            return e;
        return x + y;
    }
    if (op >= kLt && op <= kNe)
        return comparison(op, a, b);
    return arithmetic(op, a, b);
}

// binary() for two numbers without its calls, the same results; anything else through binary().
inline Value numberBinary(std::uint8_t op, const Value& a, const Value& b)
{
    if (!a.isNumber() || !b.isNumber() || op == kConcat)
        return binary(op, a, b);
    const double x = a.number(), y = b.number();
    if (op >= kLt && op <= kNe)
        return compared(op, x < y ? -1 : x > y ? 1 : 0);   // compareValues of two numbers
    return numbersArithmetic(op, x, y);
}

Value unary(std::uint8_t op, const Value& a)
{
    if (op == kUplus)
        return a;   // unary plus leaves the operand as it is, text included
    double x;
    ErrorCode e;
    if (!toNumber(a, x, e))
        return e;
    return numberResult(op == kUminus ? -x : x / 100);
}

// A stack entry of the plain evaluation (see evaluatePlain): a value, a cell or a range of the
// formula's own sheet.
struct PlainEntry {
    enum Kind : std::uint8_t { Val, Ref, Area };
    Kind kind = Val;
    RangeAddress range;
    Value value;
};

// Evaluation stacks are reused between calls, so a recalculation does not allocate one per cell:
// one per depth of nesting, since an evaluation may start another (names, INDIRECT, a context
// that computes a cell on demand) before it is done with its own. The lease also counts that depth.
class StackLease {
public:
    StackLease() : state_(threadState())
    {
        const auto depth = static_cast<std::size_t>(state_.nesting++);
        if (depth == state_.stacks.size())
            state_.stacks.push_back(std::make_unique<Stacks>());
        stacks_ = state_.stacks[depth].get();
    }
    ~StackLease()
    {
        stacks_->items.clear();
        --state_.nesting;
    }
    StackLease(const StackLease&) = delete;
    StackLease& operator=(const StackLease&) = delete;
    std::vector<Item>& get() { return stacks_->items; }
    // The plain evaluation's entries: they stay when the lease ends and are overwritten by the next.
    std::vector<PlainEntry>& plain() { return stacks_->plain; }
    // Evaluations inside evaluations, this one included.
    int nesting() const { return state_.nesting; }

private:
    struct Stacks {
        std::vector<Item> items;
        std::vector<PlainEntry> plain;
    };
    struct ThreadState {
        int nesting = 0;
        std::vector<std::unique_ptr<Stacks>> stacks;   // by depth
    };
    ThreadState& state_;
    Stacks* stacks_;
    static ThreadState& threadState()
    {
        thread_local ThreadState state;
        return state;
    }
};

// Pushes a reference entry.
void pushReference(std::vector<Item>& st, int r1, int c1, int r2, int c2, std::uint8_t ptg, int sheet = -1,
                   int sheetLast = -1)
{
    Item& r = st.emplace_back();
    if (r2 < r1) std::swap(r1, r2);
    if (c2 < c1) std::swap(c1, c2);
    const std::uint8_t base = baseId(ptg);
    r.kind = r1 == r2 && c1 == c2 && base != kArea && base != kAreaN && base != kArea3d ? Item::Ref : Item::Area;
    r.range = {r1, c1, r2, c2};
    r.arrayClass = (ptg & 0x60) == kClassArray;
    r.sheet = sheet;
    r.sheetLast = sheetLast;
}

// Pushes a plain value.
void pushValue(std::vector<Item>& st, Value v)
{
    st.emplace_back().value = std::move(v);
}

// Turns the entry into a plain value, in place.
void setValue(Item& it, Value v)
{
    it.kind = Item::Val;
    it.arrayClass = false;
    it.sheet = it.sheetLast = -1;
    it.value = std::move(v);
    it.array.reset();
}

// The text of a ptgStr: Latin-1 or UTF-16 characters.
std::string strToken(std::span<const std::uint8_t> t, std::size_t pos)
{
    const std::size_t cch = t[pos + 1];
    const bool wide = t[pos + 2] & 0x01;
    if (!wide) {
        const auto* first = t.data() + pos + 3;
        if (std::all_of(first, first + cch, [](std::uint8_t b) { return b < 0x80; }))
            return std::string(first, first + cch);   // ASCII is its own UTF-8
    }
    std::u16string u;
    u.reserve(cch);
    for (std::size_t i = 0; i < cch; ++i)
        u.push_back(wide ? static_cast<char16_t>(readU16(t, pos + 3 + 2 * i)) : static_cast<char16_t>(t[pos + 3 + i]));
    return utf16ToUtf8(u);
}

// Reference operators: ':' the bounding box, ' ' the intersection. Unions of separate areas
// are not held by the evaluator and count as not computable.
Item referenceOperator(std::uint8_t op, const Item& x, const Item& y)
{
    if (x.kind == Item::Unknown || y.kind == Item::Unknown || op == kUnion)
        return Item::unknown();
    if (!x.isReference() || !y.isReference())
        return Item::of(ErrorCode::Value);
    if (x.sheet != y.sheet || x.sheetLast != y.sheetLast)
        return Item::of(ErrorCode::Value);
    Item r = x;
    r.kind = Item::Area;
    r.arrayClass = x.arrayClass || y.arrayClass;
    if (op == kRange) {
        r.range = {std::min(x.range.firstRow, y.range.firstRow), std::min(x.range.firstCol, y.range.firstCol),
                   std::max(x.range.lastRow, y.range.lastRow), std::max(x.range.lastCol, y.range.lastCol)};
        return r;
    }
    r.range = {std::max(x.range.firstRow, y.range.firstRow), std::max(x.range.firstCol, y.range.firstCol),
               std::min(x.range.lastRow, y.range.lastRow), std::min(x.range.lastCol, y.range.lastCol)};
    if (r.range.firstRow > r.range.lastRow || r.range.firstCol > r.range.lastCol)
        return Item::of(ErrorCode::Null);
    return r;
}

} // namespace

namespace detail {

const std::array<std::uint8_t, 256> kFixedTokenSize = [] {
    std::array<std::uint8_t, 256> sizes{};
    std::array<std::uint8_t, 16> probe{};
    for (int id = 0; id < 256; ++id) {
        if (id == kStr || id == kAttr)
            continue;   // their sizes depend on what follows the id
        probe[0] = static_cast<std::uint8_t>(id);
        sizes[static_cast<std::size_t>(id)] = static_cast<std::uint8_t>(tokenSize(probe, 0));
    }
    return sizes;
}();

namespace {

// Reads the constants of array tokens from the data after the tokens (rgcb), in token order.
class ArrayData {
public:
    ArrayData(std::span<const std::uint8_t> d, std::size_t& pos) : d_(d), pos_(pos) {}

    // PtgExtraArray: columns - 1, rows - 1, then the values row by row ([MS-XLS] 2.5.198.59).
    bool next(Matrix& out)
    {
        if (!need(3))
            return false;
        const int cols = d_[pos_] + 1;
        const int rows = (d_[pos_ + 1] | (d_[pos_ + 2] << 8)) + 1;
        pos_ += 3;
        if (static_cast<long long>(rows) * cols > static_cast<long long>(d_.size() - pos_))
            return false;   // each value takes at least one byte
        out = Matrix(rows, cols);
        for (Value& v : out.cells)
            if (!value(v))
                return false;
        return true;
    }
    // PtgExtraMem of a ptgMemArea: a count and that many rectangles, skipped.
    bool skipMem()
    {
        if (!need(2))
            return false;
        const std::size_t n = d_[pos_] | (d_[pos_ + 1] << 8);
        pos_ += 2;
        if (!need(8 * n))
            return false;
        pos_ += 8 * n;
        return true;
    }

private:
    std::span<const std::uint8_t> d_;
    std::size_t& pos_;

    bool need(std::size_t n) const { return n <= d_.size() - pos_; }

    bool value(Value& v)
    {
        if (!need(1))
            return false;
        const std::uint8_t type = d_[pos_++];
        switch (type) {
        case 0x00:   // empty
            if (!need(8)) return false;
            pos_ += 8;
            v = Value();
            return true;
        case 0x01: {
            if (!need(8)) return false;
            std::uint64_t bits = 0;
            for (int i = 7; i >= 0; --i)
                bits = (bits << 8) | d_[pos_ + static_cast<std::size_t>(i)];
            pos_ += 8;
            v = numberResult(std::bit_cast<double>(bits));
            return true;
        }
        case 0x02: {
            if (!need(3)) return false;
            const std::size_t cch = d_[pos_] | (d_[pos_ + 1] << 8);
            const bool wide = d_[pos_ + 2] & 0x01;
            pos_ += 3;
            if (!need(cch * (wide ? 2 : 1))) return false;
            std::u16string u;
            for (std::size_t i = 0; i < cch; ++i)
                u.push_back(wide ? static_cast<char16_t>(d_[pos_ + 2 * i] | (d_[pos_ + 2 * i + 1] << 8))
                                 : static_cast<char16_t>(d_[pos_ + i]));
            pos_ += cch * (wide ? 2 : 1);
            v = utf16ToUtf8(u);
            return true;
        }
        case 0x04:
        case 0x10:
            if (!need(8)) return false;
            if (type == 0x04)
                v = d_[pos_] != 0;
            else
                v = validError(d_[pos_]) ? static_cast<ErrorCode>(d_[pos_]) : ErrorCode::Value;
            pos_ += 8;
            return true;
        default:
            return false;
        }
    }
};

} // namespace

bool readArrayConstant(std::span<const std::uint8_t> data, std::size_t& pos, Matrix& out)
{
    return pos <= data.size() && ArrayData(data, pos).next(out);
}

bool skipMemData(std::span<const std::uint8_t> data, std::size_t& pos)
{
    return pos <= data.size() && ArrayData(data, pos).skipMem();
}

Item evaluateItem(std::span<const std::uint8_t> t, const Evaluator& ev)
{
    // Evaluations inside evaluations (names, INDIRECT, cells a recalculation computes on demand)
    // share one bound, so no mix of them can exhaust the call stack.
    StackLease lease;
    if (lease.nesting() > kMaxNestedEvaluation * 2)
        return Item::unknown();
    std::vector<Item>& st = lease.get();
    std::size_t arrayPos = 0;
    const int row = ev.row, col = ev.col;

    std::size_t pos = 0;
    while (pos < t.size()) {
        const std::size_t size = nextTokenSize(t, pos);
        if (size == 0)
            return Item::unknown();   // a token this engine cannot read
        const std::uint8_t id = t[pos];
        const std::uint8_t base = baseId(id);
        switch (base) {
        case kAdd: case kSub: case kMul: case kDiv: case kPower: case kConcat:
        case kLt: case kLe: case kEq: case kGe: case kGt: case kNe: {
            if (st.size() < 2)
                return Item::of(ErrorCode::Value);
            // The result takes the place of the left operand; the right one goes after.
            Item& b = st.back();
            Item& a = st[st.size() - 2];
            if (a.kind == Item::Unknown || b.kind == Item::Unknown) {
                a = Item::unknown();
            } else if (ev.isArrayOperand(a) || ev.isArrayOperand(b)) {
                const Matrix x = ev.matrix(a), y = ev.matrix(b);
                const int rows = std::max(x.rows, y.rows), cols = std::max(x.cols, y.cols);
                if (static_cast<long long>(rows) * cols > kMaxArrayCells) {
                    a = Item::of(ErrorCode::Num);
                } else {
                    Matrix m(rows, cols);
                    for (int r = 0; r < m.rows; ++r)
                        for (int c = 0; c < m.cols; ++c)
                            m.at(r, c) = binary(base, x.broadcast(r, c), y.broadcast(r, c));
                    a = Item::of(std::move(m));
                }
            } else {
                Value x, y;
                setValue(a, binary(base, ev.valueRef(a, x), ev.valueRef(b, y)));
            }
            st.pop_back();
            break;
        }
        case kIsect: case kUnion: case kRange: {
            if (st.size() < 2)
                return Item::of(ErrorCode::Value);
            Item y = std::move(st.back());
            st.pop_back();
            st.back() = referenceOperator(base, st.back(), y);
            break;
        }
        case kUplus: case kUminus: case kPercent: {
            if (st.empty())
                return Item::of(ErrorCode::Value);
            Item& a = st.back();
            if (a.kind == Item::Unknown)
                break;
            if (ev.isArrayOperand(a)) {
                Matrix m = ev.matrix(a);
                for (Value& v : m.cells)
                    v = unary(base, v);
                a = Item::of(std::move(m));
            } else {
                Value x;
                setValue(a, unary(base, ev.valueRef(a, x)));
            }
            break;
        }
        case kParen:
            break;
        case kMissArg: {
            Item m;
            m.kind = Item::Missing;
            st.push_back(std::move(m));
            break;
        }
        case kStr:
            pushValue(st, strToken(t, pos));
            break;
        case kAttr:
            // tAttrSum is SUM of the entry on top; tIf, tGoto, tChoose, tSemi (volatile) and
            // tSpace only steer Excel's evaluation or keep layout.
            if (t[pos + 1] & kAttrSum) {
                if (st.empty())
                    return Item::of(ErrorCode::Value);
                Item r = ev.callItem(static_cast<std::uint16_t>(Fn::Sum), std::span<Item>(&st.back(), 1));
                st.back() = std::move(r);
            }
            break;
        case kErr:
            pushValue(st, validError(t[pos + 1]) ? static_cast<ErrorCode>(t[pos + 1]) : ErrorCode::Value);
            break;
        case kBool:
            pushValue(st, t[pos + 1] != 0);
            break;
        case kInt:
            pushValue(st, static_cast<double>(readU16(t, pos + 1)));
            break;
        case kNum: {
            std::uint64_t bits = 0;
            for (int i = 7; i >= 0; --i)
                bits = (bits << 8) | t[pos + 1 + static_cast<std::size_t>(i)];
            pushValue(st, numberResult(std::bit_cast<double>(bits)));
            break;
        }
        case kArray: {
            Matrix m;
            if (!readArrayConstant(ev.ctx.arrayData, arrayPos, m))
                return Item::unknown();   // the constants were not kept with the tokens
            st.push_back(Item::of(std::move(m)));
            break;
        }
        case kFunc:
        case kFuncVar: {
            const auto call = readFunctionCall(t, pos, base == kFunc);
            if (!call)
                return Item::unknown();   // a fixed-argument function this table lacks: its arguments are unknown
            const std::size_t argc = call->argc;
            // A damaged token may call a built-in with fewer arguments than it reads.
            if (call->info && argc < static_cast<std::size_t>(call->info->minArgs))
                return Item::of(ErrorCode::Value);
            if (argc > st.size())
                return Item::of(ErrorCode::Value);
            std::span<Item> args(st.data() + (st.size() - argc), argc);
            Item result = ev.callItem(call->index, args, (id & 0x60) == kClassArray);
            if (argc == 0) {
                st.push_back(std::move(result));
            } else {
                st.resize(st.size() - argc + 1);
                st.back() = std::move(result);
            }
            break;
        }
        case kName: {
            const std::vector<std::uint8_t>* tokens = ev.nameTokens(readU16(t, pos + 1));
            if (tokens) {
                st.push_back(ev.evaluateNested(*tokens));
            } else {
                Item u = Item::unknown();   // perhaps the name of a function called by name
                u.value = ev.nameText(readU16(t, pos + 1));
                st.push_back(std::move(u));
            }
            break;
        }
        case kNameX: {
            // A name of the workbook itself through its own SUPBOOK; add-in and external names are
            // unknown, holding their text for a call by name.
            Item r = Item::unknown();
            const std::uint16_t ixti = readU16(t, pos + 1);
            const auto* wb = ev.ctx.workbook;
            if (wb && ixti < wb->externSheets.size()) {
                const std::uint16_t sb = wb->externSheets[ixti].supBook;
                if (sb < wb->supBooks.size() && wb->supBooks[sb] == SupBookKind::Self) {
                    if (const auto* tokens = ev.nameTokens(readU16(t, pos + 3)))
                        r = ev.evaluateNested(*tokens);
                } else {
                    r.value = ev.externalNameText(ixti, readU16(t, pos + 3));
                }
            }
            st.push_back(std::move(r));
            break;
        }
        case kRef: {
            const int r = readU16(t, pos + 1), c = readU16(t, pos + 3) & 0xFF;
            pushReference(st, r, c, r, c, id);
            break;
        }
        case kArea:
            pushReference(st, readU16(t, pos + 1), readU16(t, pos + 5) & 0xFF, readU16(t, pos + 3),
                          readU16(t, pos + 7) & 0xFF, id);
            break;
        case kRefN:
        case kAreaN: {
            // Shared-formula tokens: resolve against this cell and evaluate as ordinary ones.
            const std::vector<std::uint8_t> one = expandShared(t.subspan(pos, size), row, col);
            if (base == kRefN) {
                const int r = one[1] | (one[2] << 8), c = one[3];
                pushReference(st, r, c, r, c, id);
            } else {
                pushReference(st, one[1] | (one[2] << 8), one[5], one[3] | (one[4] << 8), one[7], id);
            }
            break;
        }
        case kRef3d:
        case kArea3d:
        case kRefErr3d:
        case kAreaErr3d: {
            int first, last;
            if (!ev.externSheets(readU16(t, pos + 1), first, last)) {
                st.push_back(Item::unknown());   // another workbook
                break;
            }
            if (first < 0 || base == kRefErr3d || base == kAreaErr3d) {
                st.push_back(Item::of(ErrorCode::Ref));   // a deleted sheet or cell
                break;
            }
            const int sheetLast = last == first ? -1 : last;
            if (base == kRef3d) {
                const int r = readU16(t, pos + 3), c = readU16(t, pos + 5) & 0xFF;
                pushReference(st, r, c, r, c, id, first, sheetLast);
            } else {
                pushReference(st, readU16(t, pos + 3), readU16(t, pos + 7) & 0xFF, readU16(t, pos + 5),
                              readU16(t, pos + 9) & 0xFF, id, first, sheetLast);
            }
            break;
        }
        case kRefErr: case kAreaErr:
            st.push_back(Item::of(ErrorCode::Ref));
            break;
        case kMemArea:
            if (!skipMemData(ev.ctx.arrayData, arrayPos))
                return Item::unknown();
            break;
        case kMemErr: case kMemNoMem: case kMemFunc: case kMemAreaN: case kMemNoMemN:
            break;   // prefixes of the subexpression that follows
        default:
            // ptgExp / ptgTbl: part of an array formula or data table the caller did not resolve.
            return Item::unknown();
        }
        pos += size;
    }
    if (st.size() != 1)
        return Item::of(ErrorCode::Value);
    return std::move(st.back());
}

} // namespace detail

namespace {

Value finalValue(Value v)
{
    if (v.isBlank())
        return 0.0;   // a formula that reads an empty cell shows 0
    if (v.isNumber() && v.number() == 0)
        return 0.0;   // no -0
    return v;
}

// Most formulas of a workbook are totals, differences and shares: numbers, texts, cells and
// ranges of their own sheet, operators, IF and SUM. Those are computed here on a stack of small
// entries, with the same coercions and functions' rules as evaluateItem and reading the cells in
// the same order. The first token outside that set gives nullopt and the caller evaluates the
// whole formula again with evaluateItem (the cells read so far are then read again unchanged).
// Whether evaluatePlain, with `top` entries of the given kinds on its stack, would compute the
// tokens from `pos` on without handing the formula to the general evaluator. An entry IF picks at
// run time counts as a range when either choice is one, so the answer may be no where it would go on.
bool restIsPlain(std::span<const std::uint8_t> t, std::size_t pos, std::vector<bool> ranges)
{
    while (pos < t.size()) {
        const std::size_t size = nextTokenSize(t, pos);
        if (size == 0)
            return false;
        const std::uint8_t id = t[pos];
        switch (baseId(id)) {
        case kAdd: case kSub: case kMul: case kDiv: case kPower: case kConcat:
        case kLt: case kLe: case kEq: case kGe: case kGt: case kNe:
            if (ranges.size() < 2 || ranges.back() || ranges[ranges.size() - 2])
                return false;
            ranges.pop_back();
            break;
        case kUplus: case kUminus: case kPercent:
            if (ranges.empty() || ranges.back())
                return false;
            break;
        case kParen:
            break;
        case kAttr:
            if (t[pos + 1] & kAttrSum) {
                if (ranges.empty())
                    return false;
                ranges.back() = false;
            }
            break;
        case kStr: case kErr: case kBool: case kInt: case kNum: case kRef:
            ranges.push_back(false);
            break;
        case kArea:
            if ((id & 0x60) == kClassArray)
                return false;
            ranges.push_back(true);
            break;
        case kFuncVar: {
            if ((id & 0x60) == kClassArray)
                return false;
            const std::uint16_t index = readU16(t, pos + 2) & 0x7FFF;
            const std::size_t argc = t[pos + 1] & 0x7F;
            if (argc == 0 || argc > ranges.size())
                return false;
            const std::size_t first = ranges.size() - argc;
            bool range = false;
            if (index == static_cast<std::uint16_t>(Fn::If) && argc <= 3 && argc >= 2) {
                if (ranges[first])
                    return false;
                range = ranges[first + 1] || (argc == 3 && ranges[first + 2]);
            } else if (index != static_cast<std::uint16_t>(Fn::Sum)) {
                return false;
            }
            ranges.resize(first);
            ranges.push_back(range);
            break;
        }
        default:
            return false;
        }
        pos += size;
    }
    return ranges.size() == 1 && !ranges[0];
}

std::optional<Value> evaluatePlain(std::span<const std::uint8_t> t, const Evaluator& ev, bool tellSkipped)
{
    // Each token pushes at most one entry, so the stack never holds more entries than the
    // formula has bytes; longer formulas than a cell's usually are go to the general evaluator.
    constexpr std::size_t kMaxPlainBytes = 1024;
    if (t.size() > kMaxPlainBytes || ev.arrayMode)
        return std::nullopt;
    StackLease lease;
    if (lease.nesting() > kMaxNestedEvaluation * 2)
        return std::nullopt;
    std::vector<PlainEntry>& entries = lease.plain();
    if (entries.size() < t.size())
        entries.resize(t.size());
    PlainEntry* const st = entries.data();
    std::size_t top = 0;
    const auto push = [&]() -> PlainEntry& { return st[top++]; };
    const auto pushValue = [&](Value v) {
        PlainEntry& e = push();
        e.kind = PlainEntry::Val;
        e.value = std::move(v);
    };
    // The value of a value or a one-cell entry, as Evaluator::valueRef gives it.
    const auto operand = [&](const PlainEntry& e, Value& scratch) -> const Value& {
        return e.kind == PlainEntry::Val ? e.value : ev.cellRef(-1, e.range.firstRow, e.range.firstCol, scratch);
    };
    // The ranges of entries [first, last) that a formula names without reading them.
    const auto skip = [&](std::size_t first, std::size_t last) {
        if (tellSkipped && ev.ctx.source)
            for (std::size_t k = first; k < last; ++k)
                if (st[k].kind != PlainEntry::Val)
                    ev.ctx.source->skipped(ev.ctx.sheet, st[k].range);
    };
    // SUM of entries, as sumLike over eachNumber: numbers of cells (other kinds skipped, the first
    // error stops the sum though the rest of its range is still read), direct values converted.
    const auto sum = [&](std::size_t first) -> Value {
        double total = 0;
        ErrorCode err = ErrorCode::Value;
        Value scratch;
        for (std::size_t k = first; k < top; ++k) {
            const PlainEntry& a = st[k];
            if (a.kind == PlainEntry::Val) {
                double x;
                if (!toNumber(a.value, x, err)) {
                    skip(k + 1, top);
                    return err;
                }
                total += x;
                continue;
            }
            bool ok = true;
            for (int r = a.range.firstRow; r <= a.range.lastRow; ++r)
                for (int c = a.range.firstCol; c <= a.range.lastCol; ++c) {
                    const Value& v = ev.cellRef(-1, r, c, scratch);
                    if (!ok)
                        continue;
                    if (v.isError()) {
                        err = v.error();
                        ok = false;
                    } else if (v.isNumber()) {
                        total += v.number();
                    }
                }
            if (!ok) {
                skip(k + 1, top);
                return err;
            }
        }
        return numberResult(total);
    };
    // A formula handed to the general evaluator is computed again from its start: before its sums
    // have read many cells, the rest of the formula is checked to be plain, once.
    long long summed = 0;
    bool restChecked = false;
    const auto sumOfManyCellsWasted = [&](std::size_t first, std::size_t next) {
        constexpr long long kManyCells = 4096;
        for (std::size_t k = first; k < top; ++k)
            if (st[k].kind != PlainEntry::Val)
                summed += static_cast<long long>(st[k].range.lastRow - st[k].range.firstRow + 1) *
                          (st[k].range.lastCol - st[k].range.firstCol + 1);
        if (restChecked || summed <= kManyCells)
            return false;
        restChecked = true;
        std::vector<bool> ranges;
        for (std::size_t k = 0; k < first; ++k)
            ranges.push_back(st[k].kind == PlainEntry::Area);
        ranges.push_back(false);   // the sum
        return !restIsPlain(t, next, std::move(ranges));
    };

    std::size_t pos = 0;
    while (pos < t.size()) {
        const std::size_t size = nextTokenSize(t, pos);
        if (size == 0)
            return std::nullopt;
        const std::uint8_t id = t[pos];
        const std::uint8_t base = baseId(id);
        switch (base) {
        case kAdd: case kSub: case kMul: case kDiv: case kPower: case kConcat:
        case kLt: case kLe: case kEq: case kGe: case kGt: case kNe: {
            if (top < 2)
                return std::nullopt;
            PlainEntry& a = st[top - 2];
            const PlainEntry& b = st[top - 1];
            if (a.kind == PlainEntry::Area || b.kind == PlainEntry::Area)
                return std::nullopt;   // implicit intersection
            Value x, y;
            a.value = numberBinary(base, operand(a, x), operand(b, y));
            a.kind = PlainEntry::Val;
            --top;
            break;
        }
        case kUplus: case kUminus: case kPercent: {
            if (top < 1 || st[top - 1].kind == PlainEntry::Area)
                return std::nullopt;
            PlainEntry& a = st[top - 1];
            Value x;
            a.value = unary(base, operand(a, x));
            a.kind = PlainEntry::Val;
            break;
        }
        case kParen:
            break;
        case kStr:
            pushValue(strToken(t, pos));
            break;
        case kAttr:
            if (t[pos + 1] & kAttrSum) {
                if (top < 1)
                    return std::nullopt;
                if (sumOfManyCellsWasted(top - 1, pos + size))
                    return std::nullopt;
                Value v = sum(top - 1);
                st[top - 1].kind = PlainEntry::Val;
                st[top - 1].value = std::move(v);
            }
            break;
        case kErr:
            pushValue(validError(t[pos + 1]) ? static_cast<ErrorCode>(t[pos + 1]) : ErrorCode::Value);
            break;
        case kBool:
            pushValue(t[pos + 1] != 0);
            break;
        case kInt:
            pushValue(static_cast<double>(readU16(t, pos + 1)));
            break;
        case kNum: {
            std::uint64_t bits = 0;
            for (int i = 7; i >= 0; --i)
                bits = (bits << 8) | t[pos + 1 + static_cast<std::size_t>(i)];
            pushValue(numberResult(std::bit_cast<double>(bits)));
            break;
        }
        case kRef: {
            PlainEntry& e = push();
            const int r = readU16(t, pos + 1), c = readU16(t, pos + 3) & 0xFF;
            e.kind = PlainEntry::Ref;
            e.range = {r, c, r, c};
            break;
        }
        case kArea: {
            if ((id & 0x60) == kClassArray)
                return std::nullopt;
            int r1 = readU16(t, pos + 1), r2 = readU16(t, pos + 3);
            int c1 = readU16(t, pos + 5) & 0xFF, c2 = readU16(t, pos + 7) & 0xFF;
            if (r2 < r1) std::swap(r1, r2);
            if (c2 < c1) std::swap(c1, c2);
            PlainEntry& e = push();
            e.kind = PlainEntry::Area;
            e.range = {r1, c1, r2, c2};
            break;
        }
        case kFuncVar: {
            if ((id & 0x60) == kClassArray)
                return std::nullopt;
            const std::uint16_t index = readU16(t, pos + 2) & 0x7FFF;
            const std::size_t argc = t[pos + 1] & 0x7F;
            if (argc == 0 || argc > top)
                return std::nullopt;
            const std::size_t first = top - argc;
            if (index == static_cast<std::uint16_t>(Fn::Sum)) {
                if (sumOfManyCellsWasted(first, pos + size))
                    return std::nullopt;
                Value v = sum(first);
                st[first].kind = PlainEntry::Val;
                st[first].value = std::move(v);
            } else if (index == static_cast<std::uint16_t>(Fn::If) && argc <= 3 && argc >= 2) {
                // fnIf: the entry picked is passed on whole, a reference as a reference.
                PlainEntry& c0 = st[first];
                if (c0.kind == PlainEntry::Area)
                    return std::nullopt;
                bool cond;
                ErrorCode err = ErrorCode::Value;
                Value x;
                const bool ok = toBool(operand(c0, x), cond, err);
                // The branches not taken are named without being read.
                if (!ok)
                    skip(first + 1, top);
                else if (cond)
                    skip(first + 2, top);
                else
                    skip(first + 1, argc == 3 ? first + 2 : top);
                if (!ok) {
                    c0.kind = PlainEntry::Val;
                    c0.value = err;
                } else if (cond) {
                    c0 = std::move(st[first + 1]);
                } else if (argc < 3) {
                    c0.kind = PlainEntry::Val;
                    c0.value = false;
                } else {
                    c0 = std::move(st[first + 2]);
                }
            } else {
                return std::nullopt;
            }
            top = first + 1;
            break;
        }
        default:
            return std::nullopt;
        }
        pos += size;
    }
    if (top != 1)
        return std::nullopt;
    const PlainEntry& e = st[0];
    if (e.kind == PlainEntry::Area)
        return std::nullopt;   // implicit intersection
    return finalValue(e.kind == PlainEntry::Val ? std::move(st[0].value) : ev.cell(-1, e.range.firstRow, e.range.firstCol));
}

} // namespace

std::optional<Value> tryEvaluate(std::span<const std::uint8_t> t, int row, int col, const Context& ctx)
{
    Evaluator ev{ctx, row, col};
    if (std::optional<Value> v = evaluatePlain(t, ev, false))
        return v;
    Item it = evaluateItem(t, ev);
    if (it.kind == Item::Unknown)
        return std::nullopt;
    return finalValue(it.kind == Item::Val ? std::move(it.value) : ev.value(it));
}

std::optional<Value> tryEvaluatePlain(std::span<const std::uint8_t> t, int row, int col, const Context& ctx)
{
    const Evaluator ev{ctx, row, col};
    return evaluatePlain(t, ev, true);
}

Value evaluate(std::span<const std::uint8_t> t, int row, int col, const Context& ctx)
{
    return tryEvaluate(t, row, col, ctx).value_or(Value(ErrorCode::Name));
}

std::optional<std::vector<Value>> tryEvaluateArray(std::span<const std::uint8_t> t, const RangeAddress& range,
                                                   const Context& ctx)
{
    const long long cells = static_cast<long long>(range.lastRow - range.firstRow + 1) * (range.lastCol - range.firstCol + 1);
    if (cells <= 0 || cells > kMaxArrayCells)
        return std::nullopt;
    Evaluator ev{ctx, range.firstRow, range.firstCol};
    ev.arrayMode = true;
    const Item it = evaluateItem(t, ev);
    if (it.kind == Item::Unknown)
        return std::nullopt;
    const Matrix m = ev.matrix(it);
    std::vector<Value> out;
    for (int r = 0; r <= range.lastRow - range.firstRow; ++r)
        for (int c = 0; c <= range.lastCol - range.firstCol; ++c)
            out.push_back(finalValue(m.broadcast(r, c)));
    return out;
}

} // namespace ss::formula
