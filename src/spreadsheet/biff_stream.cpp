#include "spreadsheet/biff_stream.h"

#include "spreadsheet/error.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace ss::biff {

namespace {

std::string hex4(std::uint32_t v)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s = "0x0000";
    for (int i = 0; i < 4; ++i)
        s[5 - i] = digits[(v >> (4 * i)) & 0xF];
    return s;
}

} // namespace

// ---------------------------------------------------------------- records

RecordReader::RecordReader(std::span<const std::uint8_t> stream, std::size_t pos) : stream_(stream), pos_(pos) {}

std::optional<std::uint16_t> RecordReader::peekType() const
{
    if (pos_ + 4 > stream_.size())
        return std::nullopt;
    return static_cast<std::uint16_t>(stream_[pos_] | stream_[pos_ + 1] << 8);
}

Record RecordReader::next()
{
    if (pos_ + 4 > stream_.size())
        throw FormatError("BIFF8: record header truncated at offset " + std::to_string(pos_));
    Record r;
    r.offset = pos_;
    r.type = static_cast<std::uint16_t>(stream_[pos_] | stream_[pos_ + 1] << 8);
    const std::size_t len = stream_[pos_ + 2] | stream_[pos_ + 3] << 8;
    if (len > kMaxRecordData)
        throw FormatError("BIFF8: record " + hex4(r.type) + " at offset " + std::to_string(pos_) + " is "
                          + std::to_string(len) + " bytes long, more than the 8224 allowed");
    if (len > stream_.size() - pos_ - 4)
        throw FormatError("BIFF8: record " + hex4(r.type) + " at offset " + std::to_string(pos_)
                          + " runs past the end of the stream");
    r.data = stream_.subspan(pos_ + 4, len);
    pos_ += 4 + len;
    return r;
}

void Cursor::fail(const std::string& why) const
{
    throw FormatError(std::string("BIFF8: ") + what_ + " record: " + why);
}

void Cursor::tooShort(std::size_t n) const
{
    fail("too short (needs " + std::to_string(pos_ + n) + " bytes, has " + std::to_string(data_.size()) + ")");
}

double Cursor::f64()
{
    auto b = bytes(8);
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | b[i];
    return std::bit_cast<double>(v);
}

void ByteWriter::u16(std::uint16_t v)
{
    b_.push_back(static_cast<std::uint8_t>(v));
    b_.push_back(static_cast<std::uint8_t>(v >> 8));
}
void ByteWriter::u32(std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void ByteWriter::f64(double v)
{
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i)
        b_.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}
void ByteWriter::patch32(std::size_t pos, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b_.at(pos + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

void appendRecord(std::vector<std::uint8_t>& out, std::uint16_t type, std::span<const std::uint8_t> body)
{
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min(kMaxRecordData, body.size() - pos);
        const std::uint16_t t = pos == 0 ? type : rt::Continue;
        out.push_back(static_cast<std::uint8_t>(t));
        out.push_back(static_cast<std::uint8_t>(t >> 8));
        out.push_back(static_cast<std::uint8_t>(n));
        out.push_back(static_cast<std::uint8_t>(n >> 8));
        out.insert(out.end(), body.begin() + pos, body.begin() + pos + n);
        pos += n;
    } while (pos < body.size());
}

// ---------------------------------------------------------------- text

bool fitsCompressed(const std::u16string& text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x100; });
}

std::string readChars(Cursor& c, std::size_t cch, bool highByte)
{
    auto b = c.bytes(highByte ? 2 * cch : cch);   // checked before anything is allocated
    std::u16string units(cch, u'\0');
    for (std::size_t i = 0; i < cch; ++i)
        units[i] = highByte ? static_cast<char16_t>(b[2 * i] | b[2 * i + 1] << 8) : b[i];
    return utf16ToUtf8(units);
}

std::string readUnicodeStringNoCch(Cursor& c, std::size_t cch)
{
    const std::uint8_t flags = c.u8();
    std::uint16_t runs = 0;
    std::uint32_t ext = 0;
    if (flags & 0x08)
        runs = c.u16();
    if (flags & 0x04)
        ext = c.u32();
    std::string text = readChars(c, cch, flags & 0x01);
    // Formatting runs and phonetic data may be cut short by writers; they carry nothing we keep.
    c.skip(std::min<std::size_t>(c.remaining(), std::size_t(runs) * 4));
    c.skip(std::min<std::size_t>(c.remaining(), ext));
    return text;
}

std::string readUnicodeString(Cursor& c, int cchBytes)
{
    const std::size_t cch = cchBytes == 1 ? c.u8() : c.u16();
    return readUnicodeStringNoCch(c, cch);
}

std::string readUnicodeStringLenient(Cursor& c, int cchBytes)
{
    if (c.remaining() < static_cast<std::size_t>(cchBytes))
        return {};
    std::size_t cch = cchBytes == 1 ? c.u8() : c.u16();
    if (c.remaining() == 0)
        return {};
    const std::uint8_t flags = c.u8();
    std::size_t skip = 0;
    if ((flags & 0x08) && c.remaining() >= 2)
        skip += 2;
    if ((flags & 0x04) && c.remaining() >= skip + 4)
        skip += 4;
    c.skip(skip);
    cch = std::min(cch, c.remaining() / ((flags & 0x01) ? 2 : 1));
    return readChars(c, cch, flags & 0x01);
}

void writeUnicodeStringNoCch(ByteWriter& w, const std::u16string& text)
{
    const bool compressed = fitsCompressed(text);
    w.u8(compressed ? 0 : 1);
    for (char16_t ch : text) {
        if (compressed)
            w.u8(static_cast<std::uint8_t>(ch));
        else
            w.u16(ch);
    }
}

void writeUnicodeString(ByteWriter& w, std::string_view utf8, int cchBytes)
{
    std::u16string text = utf8ToUtf16(utf8);
    const std::size_t limit = cchBytes == 1 ? 255 : 65535;
    if (text.size() > limit)
        text.resize(limit);
    if (cchBytes == 1)
        w.u8(static_cast<std::uint8_t>(text.size()));
    else
        w.u16(static_cast<std::uint16_t>(text.size()));
    writeUnicodeStringNoCch(w, text);
}

// ---------------------------------------------------------------- RK

double decodeRk(std::uint32_t rk)
{
    double v;
    if (rk & 0x02)
        v = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    else
        v = std::bit_cast<double>(static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32);
    return (rk & 0x01) ? v / 100.0 : v;
}

std::optional<std::uint32_t> encodeRk(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const auto exact = [value](std::uint32_t rk) {
        return std::bit_cast<std::uint64_t>(decodeRk(rk)) == std::bit_cast<std::uint64_t>(value);
    };
    const auto asInt = [](double v) -> std::optional<std::uint32_t> {
        if (v != std::floor(v) || v < -536870912.0 || v > 536870911.0)
            return std::nullopt;
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(v)) << 2 | 0x02;
    };
    const auto asFloat = [](double v) {
        return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(v) >> 32) & 0xFFFFFFFCu;
    };
    std::uint32_t candidates[4];
    int n = 0;
    if (auto i = asInt(value))
        candidates[n++] = *i;
    candidates[n++] = asFloat(value);
    const double scaled = value * 100.0;
    if (auto i = asInt(std::round(scaled)))
        candidates[n++] = *i | 0x01;
    candidates[n++] = asFloat(scaled) | 0x01;
    for (int k = 0; k < n; ++k)
        if (exact(candidates[k]))
            return candidates[k];
    return std::nullopt;
}

// ---------------------------------------------------------------- SST

namespace {

// Reads across the SST record and its CONTINUE records.
class SegmentReader {
public:
    explicit SegmentReader(const std::vector<std::span<const std::uint8_t>>& segs) : segs_(segs) {}

    bool exhausted()
    {
        while (seg_ < segs_.size() && pos_ >= segs_[seg_].size())
            ++seg_, pos_ = 0;
        return seg_ >= segs_.size();
    }
    std::uint8_t u8()
    {
        if (exhausted())
            throw FormatError("BIFF8: shared string table ends in the middle of a string");
        return segs_[seg_][pos_++];
    }
    std::uint16_t u16() { std::uint16_t lo = u8(); return static_cast<std::uint16_t>(lo | u8() << 8); }
    std::uint32_t u32() { std::uint32_t lo = u16(); return lo | std::uint32_t(u16()) << 16; }
    void skip(std::size_t n)
    {
        while (n > 0) {
            if (exhausted())
                throw FormatError("BIFF8: shared string table ends in the middle of a string");
            const std::size_t k = std::min(n, segs_[seg_].size() - pos_);
            pos_ += k, n -= k;
        }
    }
    // Characters; at a segment boundary the next segment restates the flags byte.
    std::u16string chars(std::size_t cch, bool highByte)
    {
        std::u16string out;
        while (out.size() < cch) {
            if (seg_ >= segs_.size() || pos_ >= segs_[seg_].size()) {
                if (seg_ + 1 >= segs_.size())
                    throw FormatError("BIFF8: shared string table ends in the middle of a string");
                ++seg_, pos_ = 0;
                highByte = u8() & 0x01;
                continue;
            }
            const auto& s = segs_[seg_];
            const std::size_t size = highByte ? 2 : 1;
            std::size_t n = std::min(cch - out.size(), (s.size() - pos_) / size);
            if (n == 0)   // half a UTF-16 character before the boundary
                throw FormatError("BIFF8: shared string table splits a character");
            for (std::size_t i = 0; i < n; ++i, pos_ += size)
                out += highByte ? static_cast<char16_t>(s[pos_] | s[pos_ + 1] << 8) : s[pos_];
        }
        return out;
    }

private:
    const std::vector<std::span<const std::uint8_t>>& segs_;
    std::size_t seg_ = 0, pos_ = 0;
};

} // namespace

std::vector<std::string> parseSst(const std::vector<std::span<const std::uint8_t>>& segments,
                                  std::vector<FormatRuns>* runsOut)
{
    SegmentReader r(segments);
    r.u32();   // total references, not needed
    const std::uint32_t unique = r.u32();
    std::vector<std::string> out;
    // The count is a claim, not a size to reserve: each string takes at least 3 bytes.
    while (out.size() < unique && !r.exhausted()) {
        const std::uint16_t cch = r.u16();
        const std::uint8_t flags = r.u8();
        std::uint16_t runs = (flags & 0x08) ? r.u16() : 0;
        std::uint32_t ext = (flags & 0x04) ? r.u32() : 0;
        out.push_back(utf16ToUtf8(r.chars(cch, flags & 0x01)));
        if (runsOut) {
            FormatRuns kept;
            for (std::uint16_t k = 0; k < runs && !r.exhausted(); ++k) {
                const std::uint16_t first = r.u16();
                const std::uint16_t font = r.u16();
                kept.emplace_back(first, font);
            }
            runsOut->push_back(std::move(kept));
        } else {
            r.skip(std::size_t(runs) * 4);
        }
        r.skip(ext);
    }
    return out;
}

SstRecords buildSst(const std::vector<std::string>& strings, std::uint32_t totalReferences,
                    const std::map<std::string, FormatRuns>* runs)
{
    SstRecords out;
    // Excel keeps EXTSST at no more than 128 buckets.
    out.bucketSize = static_cast<std::uint16_t>(std::max<std::size_t>(8, (strings.size() + 127) / 128));
    out.bodies.emplace_back();
    ByteWriter head;
    head.u32(totalReferences);
    head.u32(static_cast<std::uint32_t>(strings.size()));
    out.bodies.back() = head.data();

    for (std::size_t i = 0; i < strings.size(); ++i) {
        std::u16string text = utf8ToUtf16(strings[i]);
        if (text.size() > 65535)
            text.resize(65535);
        const bool compressed = fitsCompressed(text);
        const std::size_t charSize = compressed ? 1 : 2;
        // Formatting runs as read, sorted, inside the text and no more than a count can say.
        FormatRuns rich;
        if (runs) {
            if (auto found = runs->find(strings[i]); found != runs->end())
                for (const auto& run : found->second)
                    if (run.first < text.size() && (rich.empty() || run.first > rich.back().first) && rich.size() < 65535)
                        rich.push_back(run);
        }
        const std::size_t header = rich.empty() ? 3 : 5;
        // The header and at least one character stay together.
        if (out.bodies.back().size() + header + (text.empty() ? 0 : charSize) > kMaxRecordData)
            out.bodies.emplace_back();
        if (i % out.bucketSize == 0)
            out.bucketStarts.push_back({out.bodies.size() - 1, out.bodies.back().size()});
        auto* body = &out.bodies.back();
        body->push_back(static_cast<std::uint8_t>(text.size()));
        body->push_back(static_cast<std::uint8_t>(text.size() >> 8));
        body->push_back(static_cast<std::uint8_t>((compressed ? 0 : 1) | (rich.empty() ? 0 : 0x08)));
        if (!rich.empty()) {
            body->push_back(static_cast<std::uint8_t>(rich.size()));
            body->push_back(static_cast<std::uint8_t>(rich.size() >> 8));
        }
        std::size_t done = 0;
        while (done < text.size()) {
            std::size_t room = (kMaxRecordData - body->size()) / charSize;
            if (room == 0) {
                out.bodies.emplace_back();
                body = &out.bodies.back();
                body->push_back(compressed ? 0 : 1);   // the continued characters restate the flags
                continue;
            }
            const std::size_t n = std::min(room, text.size() - done);
            for (std::size_t k = 0; k < n; ++k) {
                const char16_t ch = text[done + k];
                body->push_back(static_cast<std::uint8_t>(ch));
                if (!compressed)
                    body->push_back(static_cast<std::uint8_t>(ch >> 8));
            }
            done += n;
        }
        // The runs follow the characters; a record break falls between two runs, never in one.
        for (const auto& [first, font] : rich) {
            if (kMaxRecordData - body->size() < 4) {
                out.bodies.emplace_back();
                body = &out.bodies.back();
            }
            body->push_back(static_cast<std::uint8_t>(first));
            body->push_back(static_cast<std::uint8_t>(first >> 8));
            body->push_back(static_cast<std::uint8_t>(font));
            body->push_back(static_cast<std::uint8_t>(font >> 8));
        }
    }
    return out;
}

} // namespace ss::biff
