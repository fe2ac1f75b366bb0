// Evaluation of BIFF8 tokens: a stack machine over the RPN, with spreadsheet coercions.
// Conditional jumps (ptgAttr tIf/tGoto/tChoose) are ignored: every branch is evaluated and
// IF/CHOOSE pick their result, which gives the same values without side effects to worry about.
#include "spreadsheet/formula.h"
#include "spreadsheet/formula_internal.h"
#include "spreadsheet/formula_values.h"

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

Value arithmetic(std::uint8_t op, const Value& a, const Value& b)
{
    double x, y;
    ErrorCode e;
    if (!toNumber(a, x, e) || !toNumber(b, y, e))
        return e;
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

Value comparison(std::uint8_t op, const Value& a, const Value& b)
{
    if (a.isError())
        return a;
    if (b.isError())
        return b;
    const int c = compareValues(a, b);
    switch (op) {
    case kLt: return c < 0;
    case kLe: return c <= 0;
    case kEq: return c == 0;
    case kGe: return c >= 0;
    case kGt: return c > 0;
    default: return c != 0;   // kNe
    }
}

// Evaluation stacks are reused between calls, so a recalculation does not allocate one per cell.
// Each call leases its own, which keeps nested evaluation (a context that computes a cell on
// demand) safe.
class StackLease {
public:
    StackLease()
    {
        if (pool().empty()) {
            stack_ = std::make_unique<std::vector<Item>>();
            stack_->reserve(16);
        } else {
            stack_ = std::move(pool().back());
            pool().pop_back();
        }
    }
    ~StackLease()
    {
        stack_->clear();
        if (pool().size() < 8)
            pool().push_back(std::move(stack_));
    }
    StackLease(const StackLease&) = delete;
    StackLease& operator=(const StackLease&) = delete;
    std::vector<Item>& get() { return *stack_; }

private:
    std::unique_ptr<std::vector<Item>> stack_;
    static std::vector<std::unique_ptr<std::vector<Item>>>& pool()
    {
        thread_local std::vector<std::unique_ptr<std::vector<Item>>> spare;
        return spare;
    }
};

} // namespace

Value evaluate(std::span<const std::uint8_t> t, int row, int col, const Context& ctx)
{
    Evaluator ev{ctx, row, col};
    StackLease lease;
    std::vector<Item>& st = lease.get();
    auto popValue = [&](Value& out) {
        if (st.empty())
            return false;
        out = ev.value(st.back());
        st.pop_back();
        return true;
    };

    std::size_t pos = 0;
    while (pos < t.size()) {
        const std::size_t size = tokenSize(t, pos);
        if (size == 0)
            return ErrorCode::Name;
        const std::uint8_t base = baseId(t[pos]);
        Value a, b;
        switch (base) {
        case kAdd: case kSub: case kMul: case kDiv: case kPower:
            if (!popValue(b) || !popValue(a))
                return ErrorCode::Value;
            st.push_back(Item::of(arithmetic(base, a, b)));
            break;
        case kConcat: {
            if (!popValue(b) || !popValue(a))
                return ErrorCode::Value;
            std::string x, y;
            ErrorCode e;
            if (!toText(a, x, e) || !toText(b, y, e))
                st.push_back(Item::of(e));
            else
                st.push_back(Item::of(Value(x + y)));
            break;
        }
        case kLt: case kLe: case kEq: case kGe: case kGt: case kNe:
            if (!popValue(b) || !popValue(a))
                return ErrorCode::Value;
            st.push_back(Item::of(comparison(base, a, b)));
            break;
        case kIsect: case kUnion: case kRange: {
            // Reference operators: a range of two references is their bounding box; the others
            // are rare in cell formulas and give #VALUE!.
            if (st.size() < 2)
                return ErrorCode::Value;
            Item y = std::move(st.back());
            st.pop_back();
            Item x = std::move(st.back());
            st.pop_back();
            if (base == kRange && x.kind != Item::Val && y.kind != Item::Val) {
                Item r;
                r.kind = Item::Area;
                r.range = {std::min(x.range.firstRow, y.range.firstRow), std::min(x.range.firstCol, y.range.firstCol),
                           std::max(x.range.lastRow, y.range.lastRow), std::max(x.range.lastCol, y.range.lastCol)};
                st.push_back(std::move(r));
            } else if (base == kIsect && x.kind != Item::Val && y.kind != Item::Val) {
                RangeAddress r{std::max(x.range.firstRow, y.range.firstRow), std::max(x.range.firstCol, y.range.firstCol),
                               std::min(x.range.lastRow, y.range.lastRow), std::min(x.range.lastCol, y.range.lastCol)};
                if (r.firstRow > r.lastRow || r.firstCol > r.lastCol) {
                    st.push_back(Item::of(ErrorCode::Null));
                } else {
                    Item it;
                    it.kind = Item::Area;
                    it.range = r;
                    st.push_back(std::move(it));
                }
            } else {
                st.push_back(Item::of(ErrorCode::Value));
            }
            break;
        }
        case kUplus:
            // Unary plus leaves the operand as it is, text included.
            if (!popValue(a))
                return ErrorCode::Value;
            st.push_back(Item::of(std::move(a)));
            break;
        case kUminus:
        case kPercent: {
            if (!popValue(a))
                return ErrorCode::Value;
            double x;
            ErrorCode e;
            if (!toNumber(a, x, e))
                st.push_back(Item::of(e));
            else
                st.push_back(Item::of(numberResult(base == kUminus ? -x : x / 100)));
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
        case kStr: {
            const std::size_t cch = t[pos + 1];
            const bool wide = t[pos + 2] & 0x01;
            std::u16string u;
            for (std::size_t i = 0; i < cch; ++i)
                u.push_back(wide ? static_cast<char16_t>(readU16(t, pos + 3 + 2 * i)) : static_cast<char16_t>(t[pos + 3 + i]));
            st.push_back(Item::of(Value(utf16ToUtf8(u))));
            break;
        }
        case kAttr:
            if (t[pos + 1] & kAttrSum) {
                if (st.empty())
                    return ErrorCode::Value;
                const Value r = ev.call(4, std::span<Item>(&st.back(), 1));
                st.back() = Item::of(r);
            }
            break;
        case kErr:
            st.push_back(Item::of(validError(t[pos + 1]) ? static_cast<ErrorCode>(t[pos + 1]) : ErrorCode::Value));
            break;
        case kBool:
            st.push_back(Item::of(Value(t[pos + 1] != 0)));
            break;
        case kInt:
            st.push_back(Item::of(Value(static_cast<double>(readU16(t, pos + 1)))));
            break;
        case kNum: {
            std::uint64_t bits = 0;
            for (int i = 7; i >= 0; --i)
                bits = (bits << 8) | t[pos + 1 + static_cast<std::size_t>(i)];
            st.push_back(Item::of(numberResult(std::bit_cast<double>(bits))));
            break;
        }
        case kFunc:
        case kFuncVar: {
            const auto call = readFunctionCall(t, pos, base == kFunc);
            if (!call)
                return ErrorCode::Name;
            const std::size_t argc = call->argc;
            const std::uint16_t index = call->index;
            // A damaged token may call a built-in with fewer arguments than it reads.
            if (call->info && argc < static_cast<std::size_t>(call->info->minArgs))
                return ErrorCode::Value;
            if (argc > st.size())
                return ErrorCode::Value;
            std::span<Item> args(st.data() + (st.size() - argc), argc);
            Item result = ev.callItem(index, args);
            st.resize(st.size() - argc);
            st.push_back(std::move(result));
            break;
        }
        case kRef: {
            Item r;
            r.kind = Item::Ref;
            const int rr = readU16(t, pos + 1), cc = readU16(t, pos + 3) & 0xFF;
            r.range = {rr, cc, rr, cc};
            st.push_back(std::move(r));
            break;
        }
        case kArea: {
            Item r;
            r.kind = Item::Area;
            int r1 = readU16(t, pos + 1), r2 = readU16(t, pos + 3);
            int c1 = readU16(t, pos + 5) & 0xFF, c2 = readU16(t, pos + 7) & 0xFF;
            if (r2 < r1) std::swap(r1, r2);
            if (c2 < c1) std::swap(c1, c2);
            r.range = {r1, c1, r2, c2};
            st.push_back(std::move(r));
            break;
        }
        case kRefN:
        case kAreaN: {
            // Shared-formula tokens: resolve against this cell and evaluate as ordinary ones.
            const std::vector<std::uint8_t> one = expandShared(t.subspan(pos, size), row, col);
            Item r;
            if (base == kRefN) {
                const int rr = one[1] | (one[2] << 8), cc = one[3];
                r.kind = Item::Ref;
                r.range = {rr, cc, rr, cc};
            } else {
                int r1 = one[1] | (one[2] << 8), r2 = one[3] | (one[4] << 8), c1 = one[5], c2 = one[7];
                if (r2 < r1) std::swap(r1, r2);
                if (c2 < c1) std::swap(c1, c2);
                r.kind = Item::Area;
                r.range = {r1, c1, r2, c2};
            }
            st.push_back(std::move(r));
            break;
        }
        case kName: case kNameX: case kArray:
            st.push_back(Item::of(ErrorCode::Name));
            break;
        case kRef3d: case kArea3d: case kRefErr: case kAreaErr: case kRefErr3d: case kAreaErr3d:
            // Other sheets are not reachable from the context: #REF!.
            st.push_back(Item::of(ErrorCode::Ref));
            break;
        case kMemArea: case kMemErr: case kMemNoMem: case kMemFunc: case kMemAreaN: case kMemNoMemN:
            break;
        default:
            return ErrorCode::Name;   // ptgExp / ptgTbl: the shared or table formula was not resolved
        }
        pos += size;
    }
    if (st.size() != 1)
        return ErrorCode::Value;
    Value v = ev.value(st.back());
    if (v.isBlank())
        return 0.0;   // a formula that reads an empty cell shows 0
    if (v.isNumber() && v.number() == 0)
        return 0.0;   // no -0
    return v;
}

} // namespace ss::formula
