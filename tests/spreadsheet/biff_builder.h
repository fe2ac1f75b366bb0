#pragma once
// Hand-made BIFF8 streams for the reader tests: records are spelled out byte by byte,
// independent of the writer under test.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace biff_builder {

using Bytes = std::vector<std::uint8_t>;

struct B {
    Bytes b;
    B& u8(unsigned v) { b.push_back(static_cast<std::uint8_t>(v)); return *this; }
    B& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8 & 0xFF); }
    B& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    B& f64(double d)
    {
        std::uint64_t v;
        std::memcpy(&v, &d, 8);
        return u32(static_cast<std::uint32_t>(v)).u32(static_cast<std::uint32_t>(v >> 32));
    }
    B& str(const std::string& latin1) { b.insert(b.end(), latin1.begin(), latin1.end()); return *this; }
    B& utf16(const std::u16string& s) { for (char16_t c : s) u16(c); return *this; }
    B& zeros(std::size_t n) { b.insert(b.end(), n, 0); return *this; }
    B& add(const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); return *this; }
    operator Bytes() const { return b; }
};

inline Bytes rec(std::uint16_t type, const Bytes& body)
{
    return B().u16(type).u16(static_cast<unsigned>(body.size())).add(body);
}

inline Bytes bof(std::uint16_t dt, std::uint16_t version = 0x0600)
{
    return rec(0x0809, B().u16(version).u16(dt).u16(0x0DBB).u16(0x07CC).u32(0).u32(0x0206));
}

inline Bytes eof() { return rec(0x000A, {}); }

// SST body with compressed strings, no CONTINUE.
inline Bytes sst(std::initializer_list<std::string> strings, std::uint32_t claimed = 0)
{
    B b;
    b.u32(static_cast<std::uint32_t>(strings.size())).u32(claimed ? claimed : static_cast<std::uint32_t>(strings.size()));
    for (const std::string& s : strings)
        b.u16(static_cast<unsigned>(s.size())).u8(0).str(s);
    return rec(0x00FC, b);
}

// A workbook stream: globals (BOF, `globals`, one BOUNDSHEET "Sheet1", EOF), then one worksheet
// holding `sheet`. `offset` replaces the true sheet offset when given.
inline Bytes book(const Bytes& globals, const Bytes& sheet, long long offset = -1)
{
    Bytes g = bof(0x0005);
    g.insert(g.end(), globals.begin(), globals.end());
    const std::size_t boundAt = g.size() + 4;
    Bytes bs = rec(0x0085, B().u32(0).u8(0).u8(0).u8(6).u8(0).str("Sheet1"));
    g.insert(g.end(), bs.begin(), bs.end());
    Bytes e = eof();
    g.insert(g.end(), e.begin(), e.end());
    const auto at = static_cast<std::uint32_t>(offset >= 0 ? offset : static_cast<long long>(g.size()));
    for (int i = 0; i < 4; ++i)
        g[boundAt + i] = static_cast<std::uint8_t>(at >> (8 * i));
    Bytes s = bof(0x0010);
    s.insert(s.end(), sheet.begin(), sheet.end());
    s.insert(s.end(), e.begin(), e.end());
    g.insert(g.end(), s.begin(), s.end());
    return g;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace biff_builder
