#pragma once
// A cell value as a spreadsheet sees it: blank, number, text, Boolean or error.
#include <cstdint>
#include <string>
#include <variant>

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
    enum class Kind { Blank, Number, Text, Boolean, Error };

    Value() = default;
    Value(double n) : v_(n) {}
    Value(int n) : v_(static_cast<double>(n)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(bool b) : v_(b) {}
    Value(ErrorCode e) : v_(e) {}

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool isBlank() const { return kind() == Kind::Blank; }
    bool isNumber() const { return kind() == Kind::Number; }
    bool isText() const { return kind() == Kind::Text; }
    bool isBoolean() const { return kind() == Kind::Boolean; }
    bool isError() const { return kind() == Kind::Error; }

    double number() const { return std::get<double>(v_); }
    const std::string& text() const { return std::get<std::string>(v_); }   // UTF-8
    bool boolean() const { return std::get<bool>(v_); }
    ErrorCode error() const { return std::get<ErrorCode>(v_); }

    bool operator==(const Value&) const = default;

private:
    std::variant<Blank, double, std::string, bool, ErrorCode> v_;
};

} // namespace ss
