#pragma once
// A cell value as a spreadsheet sees it: blank, number, text, Boolean or error.
#include <cstdint>
#include <string>
#include <new>
#include <variant>   // std::bad_variant_access

namespace ss {

// BIFF8 error codes; the numeric values are those stored in BOOLERR and FORMULA records.
enum class ErrorCode : std::uint8_t {
    Null = 0x00,
    Div0 = 0x07,
    Value = 0x0F,
    Ref = 0x17,
    Name = 0x1D,
    Num = 0x24,
    NA = 0x2A,
};

const char* errorText(ErrorCode e);              // "#DIV/0!" ...
bool errorFromText(const std::string& text, ErrorCode& out);

struct Blank {
    bool operator==(const Blank&) const = default;
};

class Value {
public:
    enum class Kind : std::uint8_t { Blank, Number, Text, Boolean, Error };

    Value() noexcept {}
    Value(double n) noexcept : kind_(Kind::Number) { u_.number = n; }
    Value(int n) noexcept : Value(static_cast<double>(n)) {}
    Value(std::string s) : kind_(Kind::Text) { new (&u_.text) std::string(std::move(s)); }
    Value(const char* s) : Value(std::string(s)) {}
    Value(bool b) noexcept : kind_(Kind::Boolean) { u_.boolean = b; }
    Value(ErrorCode e) noexcept : kind_(Kind::Error) { u_.error = e; }

    // A tagged union written out rather than a std::variant: the evaluator copies and moves
    // values on every token, and these stay inline where the variant's went through tables.
    Value(const Value& o) : kind_(o.kind_)
    {
        if (kind_ == Kind::Text)
            new (&u_.text) std::string(o.u_.text);
        else
            u_.scalar = o.u_.scalar;
    }
    Value(Value&& o) noexcept : kind_(o.kind_)
    {
        if (kind_ == Kind::Text)
            new (&u_.text) std::string(std::move(o.u_.text));
        else
            u_.scalar = o.u_.scalar;
    }
    Value& operator=(const Value& o)
    {
        if (this == &o)
            return *this;
        if (kind_ == Kind::Text && o.kind_ == Kind::Text) {
            u_.text = o.u_.text;
        } else if (o.kind_ == Kind::Text) {
            std::string copy(o.u_.text);   // a failed copy leaves this value as it was
            new (&u_.text) std::string(std::move(copy));
            kind_ = Kind::Text;
        } else {
            reset();
            u_.scalar = o.u_.scalar;
            kind_ = o.kind_;
        }
        return *this;
    }
    Value& operator=(Value&& o) noexcept
    {
        if (this == &o)
            return *this;
        if (kind_ == Kind::Text && o.kind_ == Kind::Text) {
            u_.text = std::move(o.u_.text);
        } else if (o.kind_ == Kind::Text) {
            new (&u_.text) std::string(std::move(o.u_.text));
            kind_ = Kind::Text;
        } else {
            reset();
            u_.scalar = o.u_.scalar;
            kind_ = o.kind_;
        }
        return *this;
    }
    ~Value() { reset(); }

    Kind kind() const { return kind_; }
    bool isBlank() const { return kind_ == Kind::Blank; }
    bool isNumber() const { return kind_ == Kind::Number; }
    bool isText() const { return kind_ == Kind::Text; }
    bool isBoolean() const { return kind_ == Kind::Boolean; }
    bool isError() const { return kind_ == Kind::Error; }

    // Each accessor throws std::bad_variant_access when the value holds another kind.
    double number() const { return isNumber() ? u_.number : wrongKind<double>(); }
    const std::string& text() const { return isText() ? u_.text : wrongKind<const std::string&>(); }   // UTF-8
    bool boolean() const { return isBoolean() ? u_.boolean : wrongKind<bool>(); }
    ErrorCode error() const { return isError() ? u_.error : wrongKind<ErrorCode>(); }

    bool operator==(const Value& o) const
    {
        if (kind_ != o.kind_)
            return false;
        switch (kind_) {
        case Kind::Blank: return true;
        case Kind::Number: return u_.number == o.u_.number;
        case Kind::Text: return u_.text == o.u_.text;
        case Kind::Boolean: return u_.boolean == o.u_.boolean;
        case Kind::Error: return u_.error == o.u_.error;
        }
        return false;
    }

private:
    union Storage {
        Storage() noexcept : scalar{} {}
        ~Storage() {}
        struct Scalar {
            std::uint64_t bits;
        } scalar;   // copies a number, Boolean or error whole
        double number;
        bool boolean;
        ErrorCode error;
        std::string text;
    } u_;
    Kind kind_ = Kind::Blank;

    void reset() noexcept
    {
        if (kind_ == Kind::Text)
            u_.text.~basic_string();
        kind_ = Kind::Blank;
    }
    template <class T>
    [[noreturn]] static T wrongKind() { throw std::bad_variant_access(); }
};

} // namespace ss
