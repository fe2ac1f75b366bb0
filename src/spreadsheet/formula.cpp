// Formula text -> BIFF8 tokens: a tokenizer and a precedence-climbing parser that builds a small
// tree, then emits RPN with the operand classes Excel uses ([MS-XLS] 2.2.2 Formulas).
#include "spreadsheet/formula.h"
#include "spreadsheet/error.h"
#include "spreadsheet/formula_functions.h"
#include "spreadsheet/formula_internal.h"
#include "spreadsheet/formula_values.h"

#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>

namespace ss::formula {

using namespace detail;

namespace {

struct Node {
    enum Kind { Number, Text, Boolean, Error, Ref, Area, Unary, Binary, Percent, Paren, Func, Missing, Array, Name } kind;
    explicit Node(Kind k) : kind(k) {}
    double number = 0;
    std::string text;
    std::uint8_t code = 0;                 // error code, Boolean, or operator ptg
    int row = 0, col = 0, row2 = 0, col2 = 0;
    int ixti = -1;                         // EXTERNSHEET index of a reference to another sheet; the index of a name
    bool rowRel = true, colRel = true, row2Rel = true, col2Rel = true;
    const FunctionEntry* func = nullptr;
    std::vector<int> kids;
    int depth = 1;                         // height of the subtree, bounded so emitting it cannot exhaust the stack
    Matrix array;                          // an array constant
};

// Deepest recursion of the parser (about two levels per parenthesis or function call; Excel
// allows 64 nested functions), and the tallest expression tree, which emitting walks
// recursively: long operator chains such as A1+A2+...+A400 are as tall as they are long.
constexpr int kMaxDepth = 256;
constexpr int kMaxTreeDepth = 2000;
constexpr std::size_t kMaxText = 16384;

class Parser {
public:
    explicit Parser(std::string_view text, const CompileOptions& options = {}) : s_(text), options_(options) {}

    std::vector<std::uint8_t> run(std::vector<std::uint8_t>& arrayData)
    {
        if (s_.size() > kMaxText)
            fail("formula text too long");
        skipBlanks();
        if (pos_ < s_.size() && s_[pos_] == '=')
            ++pos_;
        skipBlanks();
        if (pos_ >= s_.size())
            fail("empty formula");
        const int root = comparison();
        skipBlanks();
        if (pos_ < s_.size())
            fail(std::string("unexpected '") + s_[pos_] + "'");
        std::vector<std::uint8_t> out;
        out.reserve(32);
        if (hasVolatile())
            putAttr(out, kAttrSemi, 0);
        emit(root, kClassValue, out, arrayData);
        if (out.size() > 1800)
            fail("formula too long for a cell (over 1800 bytes of tokens)");
        return out;
    }

private:
    std::string_view s_;
    CompileOptions options_;
    std::size_t pos_ = 0;
    std::vector<Node> nodes_;
    int nesting_ = 0;

    // Counts one level of recursive descent while alive.
    struct Nest {
        Parser& p;
        explicit Nest(Parser& parser) : p(parser)
        {
            if (++p.nesting_ > kMaxDepth)
                p.fail("formula nested too deeply");
        }
        ~Nest() { --p.nesting_; }
    };

    [[noreturn]] void fail(const std::string& why) const
    {
        throw FormatError("formula: " + why + " at position " + std::to_string(pos_ + 1));
    }

    void skipBlanks()
    {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
            ++pos_;
    }
    bool peek(char c)
    {
        skipBlanks();
        return pos_ < s_.size() && s_[pos_] == c;
    }
    bool accept(std::string_view op)
    {
        skipBlanks();
        if (s_.substr(pos_, op.size()) == op) {
            pos_ += op.size();
            return true;
        }
        return false;
    }

    int add(Node n)
    {
        for (int k : n.kids)
            n.depth = std::max(n.depth, nodes_[static_cast<std::size_t>(k)].depth + 1);
        if (n.depth > kMaxTreeDepth)
            fail("formula nested too deeply");
        nodes_.push_back(std::move(n));
        return static_cast<int>(nodes_.size()) - 1;
    }
    int binary(std::uint8_t op, int a, int b)
    {
        Node n(Node::Binary);
        n.code = op;
        n.kids = {a, b};
        return add(std::move(n));
    }

    // Excel's precedence, loosest first: comparisons, &, + -, * /, ^, %, unary - +.
    int comparison()
    {
        const Nest nest(*this);
        int left = concat();
        for (;;) {
            std::uint8_t op;
            if (accept("<=")) op = kLe;
            else if (accept(">=")) op = kGe;
            else if (accept("<>")) op = kNe;
            else if (accept("<")) op = kLt;
            else if (accept(">")) op = kGt;
            else if (accept("=")) op = kEq;
            else return left;
            left = binary(op, left, concat());
        }
    }
    int concat()
    {
        int left = additive();
        while (accept("&"))
            left = binary(kConcat, left, additive());
        return left;
    }
    int additive()
    {
        int left = multiplicative();
        for (;;) {
            if (accept("+")) left = binary(kAdd, left, multiplicative());
            else if (accept("-")) left = binary(kSub, left, multiplicative());
            else return left;
        }
    }
    int multiplicative()
    {
        int left = power();
        for (;;) {
            if (accept("*")) left = binary(kMul, left, power());
            else if (accept("/")) left = binary(kDiv, left, power());
            else return left;
        }
    }
    int power()
    {
        int left = percent();
        while (accept("^"))   // left-associative, as in Excel: 2^3^2 = 64
            left = binary(kPower, left, percent());
        return left;
    }
    int percent()
    {
        int e = unary();
        while (accept("%")) {
            Node n(Node::Percent);
            n.kids = {e};
            e = add(std::move(n));
        }
        return e;
    }
    int unary()
    {
        // Negation binds tighter than ^ in Excel: -2^2 = 4.
        const Nest nest(*this);
        if (accept("-") || accept("+")) {
            Node n(Node::Unary);
            n.code = s_[pos_ - 1] == '-' ? kUminus : kUplus;
            n.kids = {unary()};
            return add(std::move(n));
        }
        return primary();
    }

    int primary()
    {
        skipBlanks();
        if (pos_ >= s_.size())
            fail("formula ends where a value is expected");
        const char c = s_[pos_];
        if (c == '(') {
            ++pos_;
            Node n(Node::Paren);
            n.kids = {comparison()};
            if (!accept(")"))
                fail("missing ')'");
            return add(std::move(n));
        }
        if (c == '"')
            return stringLiteral();
        if (c == '{')
            return arrayLiteral();
        if (c == '#')
            return errorLiteral();
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.')
            return numberLiteral();
        if (c == '$' || std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '\'')
            return word();
        fail(std::string("unexpected '") + c + "'");
    }

    int stringLiteral()
    {
        ++pos_;
        Node n(Node::Text);
        for (;;) {
            if (pos_ >= s_.size())
                fail("unterminated text");
            const char c = s_[pos_++];
            if (c == '"') {
                if (pos_ < s_.size() && s_[pos_] == '"') {
                    n.text.push_back('"');
                    ++pos_;
                    continue;
                }
                break;
            }
            n.text.push_back(c);
        }
        if (utf8ToUtf16(n.text).size() > 255)
            fail("text longer than 255 characters");
        return add(std::move(n));
    }

    // {1,2;3,4}: rows separated by ';', elements by ','; numbers, texts, TRUE/FALSE, errors.
    int arrayLiteral()
    {
        ++pos_;
        Node n(Node::Array);
        std::vector<std::vector<Value>> rows(1);
        for (;;) {
            skipBlanks();
            Value v;
            bool negative = false;
            if (accept("-"))
                negative = true;
            else
                accept("+");
            skipBlanks();
            if (pos_ >= s_.size())
                fail("unterminated array");
            const char c = s_[pos_];
            const Node& e = nodes_[static_cast<std::size_t>(
                c == '"' ? stringLiteral() : c == '#' ? errorLiteral()
                         : (std::isdigit(static_cast<unsigned char>(c)) || c == '.') ? numberLiteral() : booleanLiteral())];
            switch (e.kind) {
            case Node::Number: v = negative ? -e.number : e.number; break;
            case Node::Text: v = e.text; break;
            case Node::Boolean: v = e.code != 0; break;
            default: v = static_cast<ErrorCode>(e.code); break;
            }
            if (negative && e.kind != Node::Number)
                fail("bad array element");
            rows.back().push_back(std::move(v));
            if (accept(","))
                continue;
            if (accept(";")) {
                rows.emplace_back();
                continue;
            }
            if (accept("}"))
                break;
            fail("expected ',', ';' or '}' in array");
        }
        const std::size_t cols = rows.front().size();
        for (const auto& r : rows)
            if (r.size() != cols)
                fail("array rows of different lengths");
        if (cols > 256 || rows.size() > 65535)
            fail("array too large");
        n.array = Matrix(static_cast<int>(rows.size()), static_cast<int>(cols));
        for (std::size_t r = 0; r < rows.size(); ++r)
            for (std::size_t c = 0; c < cols; ++c)
                n.array.at(static_cast<int>(r), static_cast<int>(c)) = rows[r][c];
        return add(std::move(n));
    }

    int booleanLiteral()
    {
        for (const char* w : {"TRUE", "FALSE"}) {
            const std::string_view wv(w);
            if (s_.size() - pos_ >= wv.size()) {
                bool same = true;
                for (std::size_t i = 0; i < wv.size() && same; ++i)
                    same = std::toupper(static_cast<unsigned char>(s_[pos_ + i])) == wv[i];
                if (same && (pos_ + wv.size() == s_.size() || !identChar(s_[pos_ + wv.size()]))) {
                    pos_ += wv.size();
                    Node b(Node::Boolean);
                    b.code = wv == "TRUE";
                    return add(std::move(b));
                }
            }
        }
        fail("bad array element");
    }

    int errorLiteral()
    {
        static const char* const kErrors[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"};
        for (const char* e : kErrors) {
            const std::string_view ev(e);
            if (s_.size() - pos_ >= ev.size()) {
                bool same = true;
                for (std::size_t i = 0; i < ev.size() && same; ++i)
                    same = std::toupper(static_cast<unsigned char>(s_[pos_ + i])) == ev[i];
                if (same) {
                    ErrorCode code;
                    errorFromText(std::string(ev), code);
                    pos_ += ev.size();
                    Node n(Node::Error);
                    n.code = static_cast<std::uint8_t>(code);
                    return add(std::move(n));
                }
            }
        }
        fail("unknown error value");
    }

    int numberLiteral()
    {
        const std::size_t start = pos_;
        while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_])))
            ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_])))
                ++pos_;
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            std::size_t p = pos_ + 1;
            if (p < s_.size() && (s_[p] == '+' || s_[p] == '-'))
                ++p;
            if (p < s_.size() && std::isdigit(static_cast<unsigned char>(s_[p]))) {
                while (p < s_.size() && std::isdigit(static_cast<unsigned char>(s_[p])))
                    ++p;
                pos_ = p;
            }
        }
        const std::string_view lit = s_.substr(start, pos_ - start);
        if (lit == ".")
            fail("bad number");
        double v = 0;
        const auto res = std::from_chars(lit.data(), lit.data() + lit.size(), v);
        if (res.ec != std::errc() || res.ptr != lit.data() + lit.size() || !std::isfinite(v))
            fail("bad number");
        if (pos_ < s_.size() && (std::isalpha(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_'))
            fail("bad number");
        Node n(Node::Number);
        n.number = v;
        return add(std::move(n));
    }

    static bool identChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.'; }

    // A1-style reference at pos_, or false (pos_ unchanged) when the text is not one.
    bool cellRef(int& row, int& col, bool& rowRel, bool& colRel)
    {
        std::size_t p = pos_;
        colRel = true;
        rowRel = true;
        if (p < s_.size() && s_[p] == '$') { colRel = false; ++p; }
        const std::size_t letters = p;
        while (p < s_.size() && std::isalpha(static_cast<unsigned char>(s_[p])))
            ++p;
        const std::size_t nLetters = p - letters;
        if (nLetters == 0 || nLetters > 3)
            return false;
        if (p < s_.size() && s_[p] == '$') { rowRel = false; ++p; }
        const std::size_t digits = p;
        while (p < s_.size() && std::isdigit(static_cast<unsigned char>(s_[p])))
            ++p;
        if (p == digits || p - digits > 7)
            return false;
        if (p < s_.size() && (identChar(s_[p]) || s_[p] == '('))
            return false;
        long c = 0;
        for (std::size_t i = letters; i < letters + nLetters; ++i)
            c = c * 26 + (std::toupper(static_cast<unsigned char>(s_[i])) - 'A' + 1);
        long r = 0;
        for (std::size_t i = digits; i < p; ++i)
            r = r * 10 + (s_[i] - '0');
        if (c > kMaxCols || r < 1 || r > kMaxRows)
            fail("reference " + std::string(s_.substr(pos_, p - pos_)) + " is outside the sheet (A1:IV65536)");
        row = static_cast<int>(r - 1);
        col = static_cast<int>(c - 1);
        pos_ = p;
        return true;
    }

    // "Sheet!" or "'Sheet name'!" before a reference: the sheet's EXTERNSHEET index, or -1
    // (pos_ unchanged) when the text does not start with a sheet name.
    int sheetPrefix()
    {
        std::string name;
        std::size_t p = pos_;
        if (s_[p] == '\'') {
            ++p;
            for (;;) {
                if (p >= s_.size())
                    fail("unterminated sheet name");
                if (s_[p] == '\'') {
                    if (p + 1 < s_.size() && s_[p + 1] == '\'') {
                        name.push_back('\'');
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                name.push_back(s_[p++]);
            }
            if (p >= s_.size() || s_[p] != '!')
                fail("expected '!' after the sheet name");
        } else {
            while (p < s_.size() && (identChar(s_[p]) || static_cast<unsigned char>(s_[p]) >= 0x80))
                ++p;
            if (p >= s_.size() || s_[p] != '!')
                return -1;
            name = std::string(s_.substr(pos_, p - pos_));
        }
        const int ixti = options_.sheetIndex ? options_.sheetIndex(name) : -1;
        if (ixti < 0 || ixti > 0xFFFF)
            fail("unknown sheet " + name);
        pos_ = p + 1;
        return ixti;
    }

    int word()
    {
        Node n(Node::Ref);
        n.ixti = sheetPrefix();
        if (n.ixti >= 0 && !cellRef(n.row, n.col, n.rowRel, n.colRel))
            fail("expected a reference after the sheet name");
        if (n.ixti >= 0 || cellRef(n.row, n.col, n.rowRel, n.colRel)) {
            if (pos_ < s_.size() && s_[pos_] == ':') {
                const std::size_t save = pos_;
                ++pos_;
                int r2, c2;
                bool rr2, cr2;
                if (!cellRef(r2, c2, rr2, cr2)) {
                    pos_ = save + 1;
                    fail("bad range");
                }
                n.kind = Node::Area;
                // Stored with the first corner top-left, as Excel normalises B2:A1 to A1:B2.
                n.row2 = r2; n.row2Rel = rr2;
                n.col2 = c2; n.col2Rel = cr2;
                if (n.row2 < n.row) { std::swap(n.row, n.row2); std::swap(n.rowRel, n.row2Rel); }
                if (n.col2 < n.col) { std::swap(n.col, n.col2); std::swap(n.colRel, n.col2Rel); }
            }
            return add(std::move(n));
        }
        if (s_[pos_] == '$')
            fail("bad reference");
        const std::size_t start = pos_;
        while (pos_ < s_.size() && identChar(s_[pos_]))
            ++pos_;
        std::string name(s_.substr(start, pos_ - start));
        for (char& ch : name)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (pos_ < s_.size() && s_[pos_] == '(') {
            ++pos_;
            return functionCall(name, start);
        }
        if (name == "TRUE" || name == "FALSE") {
            Node b(Node::Boolean);
            b.code = name == "TRUE";
            return add(std::move(b));
        }
        if (options_.nameIndex) {
            const int index = options_.nameIndex(s_.substr(start, pos_ - start));
            if (index > 0 && index <= 0xFFFF) {
                Node nm(Node::Name);
                nm.ixti = index;
                return add(std::move(nm));
            }
        }
        pos_ = start;
        fail("unknown name " + name);
    }

    int functionCall(const std::string& name, std::size_t start)
    {
        const FunctionEntry* f = functionEntryByName(name);
        if (!f) {
            pos_ = start;
            fail("unknown function " + name);
        }
        Node n(Node::Func);
        n.func = f;
        if (!accept(")")) {
            for (;;) {
                if (peek(',') || peek(')'))
                    n.kids.push_back(add(Node(Node::Missing)));
                else
                    n.kids.push_back(comparison());
                if (accept(","))
                    continue;
                if (accept(")"))
                    break;
                fail("expected ',' or ')' in " + name);
            }
        }
        const int argc = static_cast<int>(n.kids.size());
        const int maxArgs = f->info.maxArgs < 0 ? 30 : f->info.maxArgs;
        if (argc < f->info.minArgs || argc > maxArgs) {
            pos_ = start;
            fail("wrong number of arguments to " + name);
        }
        return add(std::move(n));
    }

    static void put16(std::vector<std::uint8_t>& out, unsigned v)
    {
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    }
    static unsigned colWord(int col, bool rowRel, bool colRel)
    {
        return static_cast<unsigned>(col) | (colRel ? 0x4000u : 0u) | (rowRel ? 0x8000u : 0u);
    }
    static std::uint8_t withClass(std::uint8_t base, std::uint8_t cls)
    {
        return static_cast<std::uint8_t>((base & 0x1F) | cls);
    }

    static bool isReferenceFunction(std::uint16_t index)
    {
        return index == 29 || index == 78 || index == 148;   // INDEX, OFFSET, INDIRECT
    }

    bool hasVolatile() const
    {
        for (const Node& n : nodes_)
            if (n.kind == Node::Func && isVolatile(n.func->info.index))
                return true;
        return false;
    }

    static void putAttr(std::vector<std::uint8_t>& out, std::uint8_t option, std::size_t value)
    {
        out.push_back(kAttr);
        out.push_back(option);
        put16(out, static_cast<unsigned>(value));
    }

    static void putArray(const Matrix& m, std::vector<std::uint8_t>& data)
    {
        data.push_back(static_cast<std::uint8_t>(m.cols - 1));
        put16(data, static_cast<unsigned>(m.rows - 1));
        for (const Value& v : m.cells) {
            switch (v.kind()) {
            case Value::Kind::Number: {
                data.push_back(0x01);
                const auto bits = std::bit_cast<std::uint64_t>(v.number());
                for (int i = 0; i < 8; ++i)
                    data.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
                break;
            }
            case Value::Kind::Text: {
                const std::u16string u = utf8ToUtf16(v.text());
                data.push_back(0x02);
                put16(data, static_cast<unsigned>(u.size()));
                data.push_back(0x01);
                for (char16_t ch : u)
                    put16(data, ch);
                break;
            }
            case Value::Kind::Boolean:
            case Value::Kind::Error:
                data.push_back(v.isBoolean() ? 0x04 : 0x10);
                data.push_back(v.isBoolean() ? (v.boolean() ? 1 : 0) : static_cast<std::uint8_t>(v.error()));
                data.insert(data.end(), 7, 0);
                break;
            case Value::Kind::Blank:
                data.push_back(0x00);
                data.insert(data.end(), 8, 0);
                break;
            }
        }
    }

    // IF and CHOOSE as Excel writes them, with the jump tokens that let it evaluate only the
    // branch taken ([MS-XLS] PtgAttrIf, PtgAttrGoto, PtgAttrChoose): the selector, the jump,
    // then each branch followed by a goto to just past the function token.
    void emitBranches(const Node& n, const std::vector<std::uint8_t>& classes, std::vector<std::uint8_t>& out,
                      std::vector<std::uint8_t>& data, const std::vector<std::uint8_t>& fnToken) const
    {
        emit(n.kids[0], classes[0], out, data);
        std::vector<std::vector<std::uint8_t>> branches;
        for (std::size_t i = 1; i < n.kids.size(); ++i) {
            branches.emplace_back();
            emit(n.kids[i], classes[i], branches.back(), data);
        }
        // What follows branch i up to the end of the function token: its goto, the later
        // branches with theirs, and the function token.
        std::vector<std::size_t> after(branches.size());
        std::size_t tail = fnToken.size();
        for (std::size_t i = branches.size(); i-- > 0;) {
            after[i] = tail;
            tail += branches[i].size() + 4;
        }
        const bool isIf = n.func->info.index == 1;
        if (isIf) {
            putAttr(out, kAttrIf, branches[0].size() + 4);
        } else {
            const std::size_t table = 2 * (branches.size() + 1);
            putAttr(out, kAttrChoose, branches.size());
            std::size_t at = table;
            for (const auto& b : branches) {
                put16(out, static_cast<unsigned>(at));
                at += b.size() + 4;
            }
            put16(out, static_cast<unsigned>(at));
        }
        for (std::size_t i = 0; i < branches.size(); ++i) {
            out.insert(out.end(), branches[i].begin(), branches[i].end());
            putAttr(out, kAttrGoto, after[i] - 1);
        }
        out.insert(out.end(), fnToken.begin(), fnToken.end());
    }

    // `cls` is the class the consumer of this subexpression wants: a bare reference passed to
    // SUM stays reference class, one used in arithmetic becomes value class.
    void emit(int idx, std::uint8_t cls, std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& data) const
    {
        const Node& n = nodes_[static_cast<std::size_t>(idx)];
        const std::uint8_t operandCls = cls == kClassArray ? kClassArray : kClassValue;
        switch (n.kind) {
        case Node::Number: {
            const double v = n.number;
            if (v >= 0 && v <= 65535 && v == std::floor(v)) {
                out.push_back(kInt);
                put16(out, static_cast<unsigned>(v));
            } else {
                out.push_back(kNum);
                const auto bits = std::bit_cast<std::uint64_t>(v);
                for (int i = 0; i < 8; ++i)
                    out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
            }
            break;
        }
        case Node::Text: {
            const std::u16string u = utf8ToUtf16(n.text);
            bool wide = false;
            for (char16_t ch : u)
                wide = wide || ch > 0xFF;
            out.push_back(kStr);
            out.push_back(static_cast<std::uint8_t>(u.size()));
            out.push_back(wide ? 1 : 0);
            for (char16_t ch : u) {
                out.push_back(static_cast<std::uint8_t>(ch & 0xFF));
                if (wide)
                    out.push_back(static_cast<std::uint8_t>(ch >> 8));
            }
            break;
        }
        case Node::Boolean:
            out.push_back(kBool);
            out.push_back(n.code);
            break;
        case Node::Error:
            out.push_back(kErr);
            out.push_back(n.code);
            break;
        case Node::Missing:
            out.push_back(kMissArg);
            break;
        case Node::Array:
            out.push_back(withClass(kArray, cls == kClassValue ? kClassValue : kClassArray));
            out.insert(out.end(), 7, 0);
            putArray(n.array, data);
            break;
        case Node::Name:
            out.push_back(withClass(kName, cls));
            put16(out, static_cast<unsigned>(n.ixti));
            put16(out, 0);
            break;
        case Node::Ref:
            out.push_back(withClass(n.ixti >= 0 ? kRef3d : kRef, cls));
            if (n.ixti >= 0)
                put16(out, static_cast<unsigned>(n.ixti));
            put16(out, static_cast<unsigned>(n.row));
            put16(out, colWord(n.col, n.rowRel, n.colRel));
            break;
        case Node::Area:
            out.push_back(withClass(n.ixti >= 0 ? kArea3d : kArea, cls));
            if (n.ixti >= 0)
                put16(out, static_cast<unsigned>(n.ixti));
            put16(out, static_cast<unsigned>(n.row));
            put16(out, static_cast<unsigned>(n.row2));
            put16(out, colWord(n.col, n.rowRel, n.colRel));
            put16(out, colWord(n.col2, n.row2Rel, n.col2Rel));
            break;
        case Node::Unary:
        case Node::Percent:
            emit(n.kids[0], operandCls, out, data);
            out.push_back(n.kind == Node::Percent ? static_cast<std::uint8_t>(kPercent) : n.code);
            break;
        case Node::Binary:
            emit(n.kids[0], operandCls, out, data);
            emit(n.kids[1], operandCls, out, data);
            out.push_back(n.code);
            break;
        case Node::Paren:
            emit(n.kids[0], cls, out, data);
            out.push_back(kParen);
            break;
        case Node::Func: {
            const FunctionEntry& f = *n.func;
            std::vector<std::uint8_t> classes;
            for (std::size_t i = 0; i < n.kids.size(); ++i) {
                const char pc = paramClass(f, static_cast<int>(i));
                std::uint8_t argCls = pc == 'R' ? kClassRef : pc == 'A' ? kClassArray : kClassValue;
                if (cls == kClassArray && argCls == kClassValue)
                    argCls = kClassArray;
                classes.push_back(argCls);
            }
            std::uint8_t fnCls = kClassValue;
            if (cls == kClassArray)
                fnCls = kClassArray;
            else if (cls == kClassRef && isReferenceFunction(f.info.index))
                fnCls = kClassRef;
            std::vector<std::uint8_t> fnToken;
            if (f.info.fixed) {
                fnToken.push_back(withClass(kFunc, fnCls));
            } else {
                fnToken.push_back(withClass(kFuncVar, fnCls));
                fnToken.push_back(static_cast<std::uint8_t>(n.kids.size()));
            }
            put16(fnToken, f.info.index);
            const bool jumps = (f.info.index == 1 && n.kids.size() >= 2) || (f.info.index == 100 && n.kids.size() >= 2);
            if (jumps) {
                emitBranches(n, classes, out, data, fnToken);
                break;
            }
            for (std::size_t i = 0; i < n.kids.size(); ++i)
                emit(n.kids[i], classes[i], out, data);
            out.insert(out.end(), fnToken.begin(), fnToken.end());
            break;
        }
        }
    }
};

} // namespace

std::vector<std::uint8_t> compile(std::string_view text, int, int)
{
    // Cell formulas use absolute ptgRef/ptgArea, so the cell's own position does not enter the tokens.
    std::vector<std::uint8_t> arrayData;
    std::vector<std::uint8_t> tokens = Parser(text).run(arrayData);
    if (!arrayData.empty())
        throw FormatError("formula: array constants need the formula's array data");
    return tokens;
}

std::vector<std::uint8_t> compile(std::string_view text, std::vector<std::uint8_t>& arrayData, const CompileOptions& options)
{
    arrayData.clear();
    return Parser(text, options).run(arrayData);
}

} // namespace ss::formula
