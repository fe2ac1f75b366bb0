// Logical and information functions: IF, AND, OR, NOT, TRUE, FALSE, the IS functions, NA,
// N, T, TYPE.
#include "spreadsheet/formula_functions.h"

namespace ss::formula::detail {

namespace {

Item fnIf(Call& c)
{
    if (c.args[0].kind == Item::Unknown)
        return Item::unknown();
    bool cond;
    if (!c.boolean(0, cond))
        return Item::of(c.error());
    if (cond)
        return c.has(1) ? c.args[1] : Item::of(0.0);
    if (c.size() < 3)
        return Item::of(false);
    return c.has(2) ? c.args[2] : Item::of(0.0);
}

// AND / OR: Booleans and numbers of ranges and arrays (text and blanks there are skipped),
// direct values as truth values; an empty argument counts as FALSE. Nothing to judge: #VALUE!.
Item andOr(Call& c)
{
    bool any = false, all = true, seen = false;
    ErrorCode err = ErrorCode::Value;
    bool failed = false;
    auto take = [&](bool b) {
        any = any || b;
        all = all && b;
        seen = true;
    };
    for (const Item& a : c.args) {
        if (failed)
            break;
        if (a.isReference() || a.kind == Item::Array) {
            eachValue(c.ev, std::span<const Item>(&a, 1), [&](const ss::Value& v, bool) {
                if (failed)
                    return;
                if (v.isError()) {
                    err = v.error();
                    failed = true;
                } else if (v.isNumber() || v.isBoolean()) {
                    take(v.isNumber() ? v.number() != 0 : v.boolean());
                }
            });
        } else if (a.kind == Item::Missing) {
            take(false);
        } else {
            bool b;
            if (!toBool(a.value, b, err))
                failed = true;
            else
                take(b);
        }
    }
    if (failed)
        return Item::of(err);
    if (!seen)
        return Item::of(ErrorCode::Value);
    return Item::of(c.id == Fn::And ? all : any);
}

Item fnNot(Call& c)
{
    bool b;
    if (!c.boolean(0, b))
        return Item::of(c.error());
    return Item::of(!b);
}

Item fnTrue(Call&) { return Item::of(true); }
Item fnFalse(Call&) { return Item::of(false); }
Item fnNa(Call&) { return Item::of(ErrorCode::NA); }

Item isFunction(Call& c)
{
    const ss::Value v = c.value(0);
    switch (c.id) {
    case Fn::IsNa: return Item::of(v.isError() && v.error() == ErrorCode::NA);
    case Fn::IsError: return Item::of(v.isError());
    case Fn::IsErr: return Item::of(v.isError() && v.error() != ErrorCode::NA);
    case Fn::IsNumber: return Item::of(v.isNumber());
    case Fn::IsText: return Item::of(v.isText());
    case Fn::IsNonText: return Item::of(!v.isText());
    case Fn::IsLogical: return Item::of(v.isBoolean());
    case Fn::IsRef: return Item::of(c.args[0].isReference());
    default:   // ISBLANK: an empty cell, not an empty text
        return Item::of(c.has(0) && v.isBlank());
    }
}

Item fnN(Call& c)
{
    const ss::Value v = c.value(0);
    if (v.isError())
        return Item::of(v);
    return Item::of(v.isNumber() ? v.number() : v.isBoolean() ? (v.boolean() ? 1.0 : 0.0) : 0.0);
}

Item fnT(Call& c)
{
    const ss::Value v = c.value(0);
    if (v.isError())
        return Item::of(v);
    return Item::of(v.isText() ? v : ss::Value(""));
}

Item fnType(Call& c)
{
    if (c.args[0].kind == Item::Array || (c.args[0].isReference() && c.args[0].cellCount() > 1))
        return Item::of(64.0);
    const ss::Value v = c.value(0);
    return Item::of(v.isText() ? 2.0 : v.isBoolean() ? 4.0 : v.isError() ? 16.0 : 1.0);
}

Item fnErrorType(Call& c)
{
    const ss::Value v = c.value(0);
    if (!v.isError())
        return Item::of(ErrorCode::NA);
    switch (v.error()) {
    case ErrorCode::Null: return Item::of(1.0);
    case ErrorCode::Div0: return Item::of(2.0);
    case ErrorCode::Value: return Item::of(3.0);
    case ErrorCode::Ref: return Item::of(4.0);
    case ErrorCode::Name: return Item::of(5.0);
    case ErrorCode::Num: return Item::of(6.0);
    case ErrorCode::NA: return Item::of(7.0);
    }
    return Item::of(ErrorCode::NA);
}

const FunctionImpl kLogical[] = {
    {Fn::ErrorType, fnErrorType},
    {Fn::If, fnIf},
    {Fn::And, andOr},
    {Fn::Or, andOr},
    {Fn::Not, fnNot},
    {Fn::TrueFn, fnTrue},
    {Fn::FalseFn, fnFalse},
    {Fn::Na, fnNa},
    {Fn::IsNa, isFunction},
    {Fn::IsError, isFunction},
    {Fn::IsErr, isFunction},
    {Fn::IsNumber, isFunction},
    {Fn::IsText, isFunction},
    {Fn::IsNonText, isFunction},
    {Fn::IsLogical, isFunction},
    {Fn::IsBlank, isFunction},
    {Fn::IsRef, isFunction},
    {Fn::N, fnN},
    {Fn::T, fnT},
    {Fn::Type, fnType},
};

// IFERROR(value, value if error): passes on whichever it picks.
Item fnIfError(Call& c)
{
    if (c.size() != 2)
        return Item::of(ErrorCode::Value);
    if (c.args[0].kind == Item::Unknown)
        return Item::unknown();
    if (!c.value(0).isError())
        return c.has(0) ? c.args[0] : Item::of(0.0);
    return c.has(1) ? c.args[1] : Item::of(0.0);
}

const NamedImpl kNamedLogical[] = {
    {"IFERROR", fnIfError},
};

} // namespace

std::span<const FunctionImpl> logicalFunctions() { return kLogical; }
std::span<const NamedImpl> namedLogicalFunctions() { return kNamedLogical; }

} // namespace ss::formula::detail
