// OLE2 compound file reader and writer, after [MS-CFB].
// The reader trusts nothing in the file: every sector index, chain and size is checked against
// what the file can hold before anything is allocated or copied.
#include "spreadsheet/cfb.h"
#include "spreadsheet/error.h"
#include "spreadsheet/unicode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

namespace ss::cfb {
namespace {

constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderDifatCount = 109;
constexpr std::size_t kEntrySize = 128;
constexpr std::uint64_t kMiniCutoff = 4096;
constexpr std::size_t kMiniSectorSize = 64;
constexpr std::size_t kWriteSectorSize = 512;
constexpr std::size_t kMaxNameUnits = 31;
// Real files nest storages two or three deep; the cap keeps hostile paths from growing without bound.
constexpr int kMaxStorageDepth = 64;

enum : std::uint8_t { kTypeUnused = 0, kTypeStorage = 1, kTypeStream = 2, kTypeRoot = 5 };
enum : std::uint8_t { kRed = 0, kBlack = 1 };

[[noreturn]] void fail(const std::string& what) { throw FormatError("compound file: " + what); }

std::string num(std::uint64_t v) { return std::to_string(v); }

std::uint16_t get16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t get32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
std::uint64_t get64(const std::uint8_t* p) { return get32(p) | std::uint64_t(get32(p + 4)) << 32; }
void put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}
void put64(std::uint8_t* p, std::uint64_t v)
{
    put32(p, std::uint32_t(v));
    put32(p + 4, std::uint32_t(v >> 32));
}

// ---- names -------------------------------------------------------------------------------

// Simple uppercase mapping for the scripts that occur in stream names; [MS-CFB] compares names
// after such a mapping, so two names differing only in case are the same entry.
char16_t upper(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return char16_t(c - 0x20);
    if (c < 0xE0)
        return c;
    if (c <= 0xFE)
        return c == 0xF7 ? c : char16_t(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return char16_t(c & ~1u);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c : char16_t(c - 1);
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)
        return char16_t(c - 0x20);
    if (c >= 0x430 && c <= 0x44F)
        return char16_t(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return char16_t(c - 0x50);
    return c;
}

std::u16string upperName(std::u16string s)
{
    for (auto& c : s)
        c = upper(c);
    return s;
}

// Sibling order of [MS-CFB]: shorter name first, then code unit by code unit after uppercasing.
bool entryLess(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size())
        return a.size() < b.size();
    return upperName(a) < upperName(b);
}

// ---- reader ------------------------------------------------------------------------------

struct Found {
    std::uint32_t id;
    std::string name;
    std::uint32_t start;
    std::uint64_t size;
    bool storage = false;
    std::array<std::uint8_t, 16> clsid{};
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    // lenient: a stream whose chain is damaged goes to `damaged` instead of failing the whole file.
    Contents run(bool lenient)
    {
        readHeader();
        readFat();
        readDirectory();
        std::vector<Found> found = walkTree();
        std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.id < b.id; });
        Contents out;
        Storage root;
        std::copy_n(entry(0) + 80, 16, root.clsid.begin());
        out.storages.push_back(root);
        for (const Found& f : found) {
            if (f.storage) {
                out.storages.push_back({f.name, f.clsid});
                continue;
            }
            const std::string what = "stream \"" + f.name + "\"";
            Stream s;
            s.name = f.name;
            try {
                if (f.size > 0)
                    s.data = f.size < miniCutoff_ ? readMini(f.start, f.size, what) : readRegular(f.start, f.size, what);
            } catch (const FormatError& e) {
                if (!lenient)
                    throw;
                out.damaged.emplace_back(f.name, e.what());
                continue;
            }
            out.streams.push_back(std::move(s));
        }
        return out;
    }

private:
    const std::uint8_t* header() const { return bytes_.data(); }

    void readHeader()
    {
        if (bytes_.empty())
            fail("the file is empty");
        if (bytes_.size() < 512)
            fail("the header is truncated (" + num(bytes_.size()) + " bytes)");
        if (std::memcmp(header(), kSignature, sizeof kSignature) != 0)
            fail("not a compound file (bad signature)");
        if (get16(header() + 28) != 0xFFFE)
            fail("unsupported byte order mark");
        major_ = get16(header() + 26);
        const unsigned shift = get16(header() + 30);
        if (major_ == 3 && shift != 9)
            fail("version 3 file with sector shift " + num(shift) + " (must be 9)");
        if (major_ == 4 && shift != 12)
            fail("version 4 file with sector shift " + num(shift) + " (must be 12)");
        if (major_ != 3 && major_ != 4)
            fail("unsupported major version " + num(major_));
        sectorSize_ = std::size_t(1) << shift;
        if (get16(header() + 32) != 6)
            fail("mini sector shift " + num(get16(header() + 32)) + " (must be 6)");
        miniCutoff_ = get32(header() + 56);
        if (miniCutoff_ != kMiniCutoff)
            fail("mini stream cutoff " + num(miniCutoff_) + " (must be 4096)");
        if (bytes_.size() <= sectorSize_)
            fail("the file holds no sectors after its " + num(sectorSize_) + "-byte header");
        // Some writers cut the file right after the last used byte: a final partial sector counts.
        const std::size_t body = bytes_.size() - sectorSize_;
        const std::size_t sectors = (body + sectorSize_ - 1) / sectorSize_;
        sectorCount_ = std::uint32_t(std::min<std::size_t>(sectors, kMaxRegSect + std::size_t(1)));
        owner_.assign(sectorCount_, 0);
    }

    // One sector's bytes, zero-filled past the end of a truncated file.
    void appendSector(std::vector<std::uint8_t>& out, std::uint32_t sector, std::size_t count) const
    {
        const std::size_t offset = (std::size_t(sector) + 1) * sectorSize_;
        const std::size_t avail = offset < bytes_.size() ? std::min(count, bytes_.size() - offset) : 0;
        out.insert(out.end(), bytes_.begin() + std::ptrdiff_t(offset), bytes_.begin() + std::ptrdiff_t(offset + avail));
        out.resize(out.size() + (count - avail), 0);
    }

    void readFat()
    {
        const std::uint32_t fatCount = get32(header() + 44);
        if (fatCount == 0)
            fail("the header lists no FAT sectors");
        if (fatCount > sectorCount_)
            fail("the header lists " + num(fatCount) + " FAT sectors but the file holds only " + num(sectorCount_)
                 + " sectors");
        std::vector<std::uint32_t> fatSectors;
        fatSectors.reserve(fatCount);
        for (std::size_t i = 0; i < kHeaderDifatCount && fatSectors.size() < fatCount; ++i) {
            const std::uint32_t s = get32(header() + 76 + 4 * i);
            if (s == kFreeSect)
                break;
            fatSectors.push_back(s);
        }
        // DIFAT sectors continue the list: all entries but the last, which links to the next one.
        const std::size_t perDifat = sectorSize_ / 4 - 1;
        std::uint32_t dif = get32(header() + 68);
        const std::uint32_t difatChain = ++chainId_;
        std::vector<std::uint8_t> buf;
        while (fatSectors.size() < fatCount && dif != kEndOfChain && dif != kFreeSect) {
            if (dif >= sectorCount_)
                fail("DIFAT sector " + num(dif) + " lies beyond the end of the file");
            if (owner_[dif] == difatChain)
                fail("the DIFAT chain loops at sector " + num(dif));
            owner_[dif] = difatChain;
            buf.clear();
            appendSector(buf, dif, sectorSize_);
            for (std::size_t i = 0; i < perDifat && fatSectors.size() < fatCount; ++i)
                fatSectors.push_back(get32(buf.data() + 4 * i));
            dif = get32(buf.data() + 4 * perDifat);
        }
        std::fill(owner_.begin(), owner_.end(), 0);

        fat_.reserve(fatSectors.size() * (sectorSize_ / 4));
        for (const std::uint32_t s : fatSectors) {
            if (s >= sectorCount_)
                fail("FAT sector " + num(s) + " lies beyond the end of the file");
            buf.clear();
            appendSector(buf, s, sectorSize_);
            for (std::size_t i = 0; i < sectorSize_ / 4; ++i)
                fat_.push_back(get32(buf.data() + 4 * i));
        }
    }

    // Follows a FAT chain for at most `limit` sectors. Each sector may belong to one chain only,
    // which catches loops and cross-linked chains and bounds everything read by the file size.
    std::vector<std::uint32_t> chain(std::uint32_t start, std::size_t limit, const std::string& what)
    {
        const std::uint32_t id = ++chainId_;
        std::vector<std::uint32_t> sectors;
        std::uint32_t s = start;
        while (sectors.size() < limit && s != kEndOfChain) {
            if (s > kMaxRegSect)
                fail("the chain of the " + what + " runs into a free or reserved sector");
            if (s >= sectorCount_)
                fail("the chain of the " + what + " points to sector " + num(s) + " beyond the end of the file");
            if (s >= fat_.size())
                fail("the chain of the " + what + " reaches sector " + num(s) + ", which the FAT does not cover");
            if (owner_[s] == id)
                fail("the chain of the " + what + " loops at sector " + num(s));
            if (owner_[s] != 0)
                fail("the " + what + " shares sector " + num(s) + " with another chain");
            owner_[s] = id;
            sectors.push_back(s);
            s = fat_[s];
        }
        return sectors;
    }

    std::vector<std::uint8_t> readRegular(std::uint32_t start, std::uint64_t size, const std::string& what)
    {
        if (size > bytes_.size())
            fail("the " + what + " claims " + num(size) + " bytes, more than the whole file");
        const std::size_t need = std::size_t((size + sectorSize_ - 1) / sectorSize_);
        const std::vector<std::uint32_t> sectors = chain(start, need, what);
        if (sectors.size() < need)
            fail("the " + what + " claims " + num(size) + " bytes but its chain holds only " + num(sectors.size())
                 + " sectors");
        std::vector<std::uint8_t> out;
        out.reserve(std::size_t(size));
        for (const std::uint32_t s : sectors)
            appendSector(out, s, std::min<std::size_t>(sectorSize_, std::size_t(size) - out.size()));
        return out;
    }

    void readDirectory()
    {
        const std::vector<std::uint32_t> sectors = chain(get32(header() + 48), kMaxRegSect, "directory");
        if (sectors.empty())
            fail("the directory is empty");
        for (const std::uint32_t s : sectors)
            appendSector(dir_, s, sectorSize_);
        entryCount_ = std::uint32_t(dir_.size() / kEntrySize);
        const std::uint8_t* root = entry(0);
        if (root[66] != kTypeRoot)
            fail("the first directory entry is not the root storage");
        rootStart_ = get32(root + 116);
        rootSize_ = entrySize(root);
    }

    const std::uint8_t* entry(std::uint32_t id) const { return dir_.data() + std::size_t(id) * kEntrySize; }

    // Version 3 writers may leave garbage in the high half of the size field.
    std::uint64_t entrySize(const std::uint8_t* e) const
    {
        const std::uint64_t size = get64(e + 120);
        return major_ == 3 ? (size & 0xFFFFFFFFu) : size;
    }

    static std::string entryName(const std::uint8_t* e)
    {
        const std::size_t units = std::min<std::size_t>(get16(e + 64) / 2, 32);
        std::u16string name;
        for (std::size_t i = 0; i < units; ++i) {
            const char16_t c = get16(e + 2 * i);
            if (c == 0)
                break;
            name.push_back(c);
        }
        return utf16ToUtf8(name);
    }

    // Walks the sibling trees from the root's child; every entry may be reached once only.
    std::vector<Found> walkTree()
    {
        struct Pending {
            std::uint32_t id;
            int depth;
            std::string prefix;
        };
        std::vector<char> seen(entryCount_, 0);
        seen[0] = 1;
        std::vector<Pending> stack;
        stack.push_back({get32(entry(0) + 76), 0, {}});
        std::vector<Found> found;
        while (!stack.empty()) {
            Pending p = std::move(stack.back());
            stack.pop_back();
            if (p.id == kNoStream)
                continue;
            if (p.id >= entryCount_)
                fail("a directory link points to entry " + num(p.id) + " of only " + num(entryCount_));
            if (seen[p.id])
                fail("directory entry " + num(p.id) + " is linked twice (the directory tree has a cycle)");
            seen[p.id] = 1;
            const std::uint8_t* e = entry(p.id);
            const std::uint8_t type = e[66];
            if (type == kTypeUnused)
                continue;
            if (type != kTypeStorage && type != kTypeStream)
                fail("directory entry " + num(p.id) + " has type " + num(type) + " inside the tree");
            stack.push_back({get32(e + 68), p.depth, p.prefix});
            stack.push_back({get32(e + 72), p.depth, p.prefix});
            const std::string name = p.prefix + entryName(e);
            if (type == kTypeStorage) {
                if (p.depth + 1 > kMaxStorageDepth)
                    fail("storages are nested more than " + num(kMaxStorageDepth) + " deep");
                stack.push_back({get32(e + 76), p.depth + 1, name + "/"});
                Found st{p.id, name, 0, 0, true, {}};
                std::copy_n(e + 80, 16, st.clsid.begin());
                found.push_back(st);
            } else {
                found.push_back({p.id, name, get32(e + 116), entrySize(e)});
            }
        }
        return found;
    }

    void loadMini()
    {
        if (miniLoaded_)
            return;
        miniLoaded_ = true;
        const std::uint32_t miniFatStart = get32(header() + 60);
        if (miniFatStart != kEndOfChain && miniFatStart != kFreeSect) {
            std::vector<std::uint8_t> raw;
            for (const std::uint32_t s : chain(miniFatStart, kMaxRegSect, "mini FAT"))
                appendSector(raw, s, sectorSize_);
            miniFat_.resize(raw.size() / 4);
            for (std::size_t i = 0; i < miniFat_.size(); ++i)
                miniFat_[i] = get32(raw.data() + 4 * i);
        }
        if (rootSize_ > 0)
            miniStream_ = readRegular(rootStart_, rootSize_, "mini stream");
        miniOwner_.assign((miniStream_.size() + kMiniSectorSize - 1) / kMiniSectorSize, 0);
    }

    std::vector<std::uint8_t> readMini(std::uint32_t start, std::uint64_t size, const std::string& what)
    {
        loadMini();
        const std::size_t need = std::size_t((size + kMiniSectorSize - 1) / kMiniSectorSize);
        const std::uint32_t id = ++chainId_;
        std::vector<std::uint8_t> out;
        out.reserve(std::size_t(size));
        std::uint32_t s = start;
        for (std::size_t n = 0; n < need; ++n) {
            if (s == kEndOfChain)
                fail("the " + what + " claims " + num(size) + " bytes but its mini chain holds only " + num(n)
                     + " mini sectors");
            if (s >= miniOwner_.size())
                fail("the mini chain of the " + what + " points to mini sector " + num(s) + " beyond the mini stream");
            if (s >= miniFat_.size())
                fail("the mini chain of the " + what + " reaches mini sector " + num(s)
                     + ", which the mini FAT does not cover");
            if (miniOwner_[s] == id)
                fail("the mini chain of the " + what + " loops at mini sector " + num(s));
            if (miniOwner_[s] != 0)
                fail("the " + what + " shares mini sector " + num(s) + " with another stream");
            miniOwner_[s] = id;
            const std::size_t offset = std::size_t(s) * kMiniSectorSize;
            const std::size_t count = std::min<std::size_t>(
                {kMiniSectorSize, std::size_t(size) - out.size(), miniStream_.size() - offset});
            out.insert(out.end(), miniStream_.begin() + std::ptrdiff_t(offset),
                       miniStream_.begin() + std::ptrdiff_t(offset + count));
            s = miniFat_[s];
        }
        if (out.size() != size)
            fail("the " + what + " runs past the end of the mini stream");
        return out;
    }

    std::span<const std::uint8_t> bytes_;
    unsigned major_ = 3;
    std::size_t sectorSize_ = 512;
    std::uint64_t miniCutoff_ = kMiniCutoff;
    std::uint32_t sectorCount_ = 0;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> owner_;  // chain id that claimed each sector, 0 when unclaimed
    std::uint32_t chainId_ = 0;
    std::vector<std::uint8_t> dir_;
    std::uint32_t entryCount_ = 0;
    std::uint32_t rootStart_ = kEndOfChain;
    std::uint64_t rootSize_ = 0;
    bool miniLoaded_ = false;
    std::vector<std::uint32_t> miniFat_;
    std::vector<std::uint8_t> miniStream_;
    std::vector<std::uint32_t> miniOwner_;
};

// ---- writer ------------------------------------------------------------------------------

struct Node {
    std::u16string name;
    bool storage = false;
    std::array<std::uint8_t, 16> clsid{};
    const Stream* stream = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    std::uint32_t id = 0;
    std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    std::uint8_t color = kBlack;
    std::uint32_t start = kEndOfChain;
};

std::u16string checkedName(std::string_view utf8, const std::string& full)
{
    const std::u16string name = utf8ToUtf16(utf8);
    if (name.empty())
        fail("stream name \"" + full + "\" has an empty part");
    if (name.size() > kMaxNameUnits)
        fail("stream name \"" + full + "\" has a part longer than 31 characters");
    for (const char16_t c : name)
        if (c == u'\\' || c == u':' || c == u'!')
            fail("stream name \"" + full + "\" contains a character not allowed in compound files");
    return name;
}

Node* childNamed(Node& parent, const std::u16string& name)
{
    const std::u16string key = upperName(name);
    for (auto& c : parent.children)
        if (upperName(c->name) == key)
            return c.get();
    return nullptr;
}

// Builds a balanced search tree over the sorted siblings. Every level but the last is full, so
// colouring the last level red (when it is not full) satisfies the red-black rules.
std::uint32_t buildSiblings(std::vector<Node*>& v, std::size_t lo, std::size_t hi, int depth, std::vector<int>& depths)
{
    if (lo >= hi)
        return kNoStream;
    const std::size_t mid = lo + (hi - lo) / 2;
    depths[mid] = depth;
    v[mid]->left = buildSiblings(v, lo, mid, depth + 1, depths);
    v[mid]->right = buildSiblings(v, mid + 1, hi, depth + 1, depths);
    return v[mid]->id;
}

void linkChildren(Node& storage)
{
    std::vector<Node*> v;
    for (auto& c : storage.children)
        v.push_back(c.get());
    std::sort(v.begin(), v.end(), [](const Node* a, const Node* b) { return entryLess(a->name, b->name); });
    std::vector<int> depths(v.size(), 0);
    storage.child = buildSiblings(v, 0, v.size(), 0, depths);
    const int height = v.empty() ? 0 : *std::max_element(depths.begin(), depths.end()) + 1;
    const bool full = height < 31 && v.size() == (std::size_t(1) << height) - 1;
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i]->color = (!full && depths[i] == height - 1) ? kRed : kBlack;
    for (Node* c : v)
        if (c->storage)
            linkChildren(*c);
}

std::size_t ceilDiv(std::size_t a, std::size_t b) { return (a + b - 1) / b; }

} // namespace

std::vector<Stream> read(std::span<const std::uint8_t> bytes) { return Reader(bytes).run(false).streams; }

Contents readContents(std::span<const std::uint8_t> bytes) { return Reader(bytes).run(true); }

const Stream* find(const std::vector<Stream>& streams, const std::string& name)
{
    const std::u16string key = upperName(utf8ToUtf16(name));
    for (const Stream& s : streams)
        if (upperName(utf8ToUtf16(s.name)) == key)
            return &s;
    return nullptr;
}

void dropUnwritable(std::vector<Stream>& streams, std::vector<Storage>& storages)
{
    // Keys are the uppercase paths; a stream's key may not be a storage's or a prefix of one.
    auto key = [](const std::string& path, std::u16string& out) {
        out.clear();
        std::string_view rest = path;
        for (;;) {
            const std::size_t slash = rest.find('/');
            const std::u16string part = utf8ToUtf16(rest.substr(0, slash));
            if (part.empty() || part.size() > kMaxNameUnits)
                return false;
            for (const char16_t c : part)
                if (c == u'\\' || c == u':' || c == u'!')
                    return false;
            out += upperName(part);
            if (slash == std::string_view::npos)
                return true;
            out += u'/';
            rest = rest.substr(slash + 1);
        }
    };
    // One path inside another: "A" and "A/B".
    auto within = [](const std::u16string& inner, const std::u16string& outer) {
        return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 && inner[outer.size()] == u'/';
    };
    std::vector<std::u16string> streamKeys, storageKeys;
    std::u16string k;
    std::vector<Stream> keptStreams;
    for (Stream& s : streams) {
        if (!key(s.name, k))
            continue;
        bool clash = false;
        for (const std::u16string& other : streamKeys)
            clash = clash || other == k || within(k, other) || within(other, k);
        if (clash)
            continue;
        streamKeys.push_back(k);
        keptStreams.push_back(std::move(s));
    }
    std::vector<Storage> keptStorages;
    for (Storage& st : storages) {
        if (!st.name.empty()) {
            if (!key(st.name, k) || std::find(storageKeys.begin(), storageKeys.end(), k) != storageKeys.end())
                continue;
            bool clash = false;
            for (const std::u16string& sk : streamKeys)
                clash = clash || sk == k || within(k, sk);
            if (clash)
                continue;
            storageKeys.push_back(k);
        }
        keptStorages.push_back(std::move(st));
    }
    streams = std::move(keptStreams);
    storages = std::move(keptStorages);
}

std::vector<std::uint8_t> write(const std::vector<Stream>& streams) { return write(streams, {}); }

std::vector<std::uint8_t> write(const std::vector<Stream>& streams, const std::vector<Storage>& storages)
{
    // Directory tree: "a/b" names a stream b inside storage a.
    Node root;
    root.name = u"Root Entry";
    root.storage = true;
    // The storage `part` under `parent`, made when it is missing; a stream there is refused.
    auto storageChild = [](Node& parent, const std::u16string& part, const std::string& what) {
        Node* existing = childNamed(parent, part);
        if (existing && !existing->storage)
            fail(what + " where a stream of that name exists");
        if (!existing) {
            auto node = std::make_unique<Node>();
            node->name = part;
            node->storage = true;
            existing = node.get();
            parent.children.push_back(std::move(node));
        }
        return existing;
    };
    for (const Storage& st : storages) {
        Node* parent = &root;
        std::string_view rest = st.name;
        while (!rest.empty()) {
            const std::size_t slash = rest.find('/');
            const std::u16string part = checkedName(rest.substr(0, slash), st.name);
            parent = storageChild(*parent, part, "\"" + st.name + "\" names a storage");
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        }
        parent->clsid = st.clsid;
    }
    for (const Stream& s : streams) {
        Node* parent = &root;
        std::string_view rest = s.name;
        for (;;) {
            const std::size_t slash = rest.find('/');
            const std::u16string part = checkedName(rest.substr(0, slash), s.name);
            Node* existing = childNamed(*parent, part);
            if (slash == std::string_view::npos) {
                if (existing)
                    fail("stream name \"" + s.name + "\" is used twice");
                auto node = std::make_unique<Node>();
                node->name = part;
                node->stream = &s;
                parent->children.push_back(std::move(node));
                break;
            }
            parent = storageChild(*parent, part, "\"" + s.name + "\" needs a storage");
            rest = rest.substr(slash + 1);
        }
    }

    // Entry ids in depth-first order, root first.
    std::vector<Node*> entries;
    std::vector<Node*> todo{&root};
    while (!todo.empty()) {
        Node* n = todo.back();
        todo.pop_back();
        n->id = std::uint32_t(entries.size());
        entries.push_back(n);
        for (auto it = n->children.rbegin(); it != n->children.rend(); ++it)
            todo.push_back(it->get());
    }
    linkChildren(root);

    // Small streams go to the mini stream, 64 bytes a mini sector.
    std::vector<std::uint32_t> miniFat;
    std::size_t bigSectors = 0;
    for (Node* n : entries) {
        if (!n->stream || n->stream->data.empty())
            continue;
        const std::size_t size = n->stream->data.size();
        if (size >= kMiniCutoff) {
            if (size > 0xFFFFFFFFu)
                fail("stream \"" + n->stream->name + "\" is too large for a version 3 compound file");
            bigSectors += ceilDiv(size, kWriteSectorSize);
            continue;
        }
        n->start = std::uint32_t(miniFat.size());
        const std::size_t count = ceilDiv(size, kMiniSectorSize);
        for (std::size_t i = 1; i < count; ++i)
            miniFat.push_back(std::uint32_t(miniFat.size() + 1));
        miniFat.push_back(kEndOfChain);
    }

    const std::size_t entriesPerSector = kWriteSectorSize / kEntrySize;
    const std::size_t perSector = kWriteSectorSize / 4;
    const std::size_t dirSectors = ceilDiv(entries.size(), entriesPerSector);
    const std::size_t miniFatSectors = ceilDiv(miniFat.size(), perSector);
    const std::size_t miniBytes = miniFat.size() * kMiniSectorSize;
    const std::size_t miniSectors = ceilDiv(miniBytes, kWriteSectorSize);
    const std::size_t dataSectors = dirSectors + miniFatSectors + miniSectors + bigSectors;

    // The FAT covers every sector including its own and the DIFAT's.
    std::size_t fatSectors = 1, difatSectors = 0;
    for (;;) {
        difatSectors = fatSectors > kHeaderDifatCount ? ceilDiv(fatSectors - kHeaderDifatCount, perSector - 1) : 0;
        if (fatSectors * perSector >= dataSectors + fatSectors + difatSectors)
            break;
        ++fatSectors;
    }
    const std::size_t total = fatSectors + difatSectors + dataSectors;
    if (total >= kMaxRegSect)
        fail("the streams are too large for a version 3 compound file");

    std::vector<std::uint32_t> fat(fatSectors * perSector, kFreeSect);
    std::size_t next = 0;
    for (std::size_t i = 0; i < fatSectors; ++i)
        fat[next++] = kFatSect;
    const std::size_t difatFirst = next;
    for (std::size_t i = 0; i < difatSectors; ++i)
        fat[next++] = kDifSect;
    auto allocate = [&](std::size_t count) {
        const std::size_t first = next;
        for (std::size_t i = 0; i < count; ++i, ++next)
            fat[next] = i + 1 < count ? std::uint32_t(next + 1) : kEndOfChain;
        return first;
    };
    const std::size_t dirFirst = allocate(dirSectors);
    const std::size_t miniFatFirst = allocate(miniFatSectors);
    const std::size_t miniFirst = allocate(miniSectors);

    std::vector<std::uint8_t> out(kWriteSectorSize * (1 + total), 0);
    auto sector = [&](std::size_t s) { return out.data() + kWriteSectorSize * (s + 1); };

    for (Node* n : entries) {
        if (!n->stream || n->stream->data.size() < kMiniCutoff)
            continue;
        const auto& data = n->stream->data;
        const std::size_t first = allocate(ceilDiv(data.size(), kWriteSectorSize));
        n->start = std::uint32_t(first);
        std::memcpy(sector(first), data.data(), data.size());
    }
    for (Node* n : entries) {
        if (!n->stream || n->stream->data.empty() || n->stream->data.size() >= kMiniCutoff)
            continue;
        const auto& data = n->stream->data;
        std::memcpy(sector(miniFirst) + std::size_t(n->start) * kMiniSectorSize, data.data(), data.size());
    }
    for (std::size_t i = 0; i < miniFat.size(); ++i)
        put32(sector(miniFatFirst) + 4 * i, miniFat[i]);
    for (std::size_t i = miniFat.size(); i < miniFatSectors * perSector; ++i)
        put32(sector(miniFatFirst) + 4 * i, kFreeSect);
    for (std::size_t i = 0; i < fat.size(); ++i)
        put32(sector(0) + 4 * i, fat[i]);

    // Header.
    std::uint8_t* h = out.data();
    std::memcpy(h, kSignature, sizeof kSignature);
    put16(h + 24, 0x003E);
    put16(h + 26, 3);
    put16(h + 28, 0xFFFE);
    put16(h + 30, 9);
    put16(h + 32, 6);
    put32(h + 44, std::uint32_t(fatSectors));
    put32(h + 48, std::uint32_t(dirFirst));
    put32(h + 56, std::uint32_t(kMiniCutoff));
    put32(h + 60, miniFatSectors ? std::uint32_t(miniFatFirst) : kEndOfChain);
    put32(h + 64, std::uint32_t(miniFatSectors));
    put32(h + 68, difatSectors ? std::uint32_t(difatFirst) : kEndOfChain);
    put32(h + 72, std::uint32_t(difatSectors));
    for (std::size_t i = 0; i < kHeaderDifatCount; ++i)
        put32(h + 76 + 4 * i, i < fatSectors ? std::uint32_t(i) : kFreeSect);
    // DIFAT sectors: the FAT sectors after the first 109, with the last slot linking onwards.
    std::size_t fatIndex = kHeaderDifatCount;
    for (std::size_t d = 0; d < difatSectors; ++d) {
        std::uint8_t* p = sector(difatFirst + d);
        for (std::size_t i = 0; i < perSector - 1; ++i, ++fatIndex)
            put32(p + 4 * i, fatIndex < fatSectors ? std::uint32_t(fatIndex) : kFreeSect);
        put32(p + 4 * (perSector - 1), d + 1 < difatSectors ? std::uint32_t(difatFirst + d + 1) : kEndOfChain);
    }

    // Directory entries; unused slots keep zeros with NOSTREAM links.
    for (std::size_t i = 0; i < dirSectors * entriesPerSector; ++i) {
        std::uint8_t* e = sector(dirFirst) + i * kEntrySize;
        put32(e + 68, kNoStream);
        put32(e + 72, kNoStream);
        put32(e + 76, kNoStream);
        if (i >= entries.size())
            continue;
        const Node* n = entries[i];
        for (std::size_t k = 0; k < n->name.size(); ++k)
            put16(e + 2 * k, n->name[k]);
        put16(e + 64, std::uint16_t((n->name.size() + 1) * 2));
        e[66] = n == &root ? kTypeRoot : n->storage ? kTypeStorage : kTypeStream;
        if (n->storage)
            std::memcpy(e + 80, n->clsid.data(), 16);
        e[67] = n->color;
        put32(e + 68, n->left);
        put32(e + 72, n->right);
        put32(e + 76, n->child);
        if (n == &root) {
            put32(e + 116, miniSectors ? std::uint32_t(miniFirst) : kEndOfChain);
            put64(e + 120, miniBytes);
        } else if (n->stream) {
            put32(e + 116, n->stream->data.empty() ? kEndOfChain : n->start);
            put64(e + 120, n->stream->data.size());
        }
    }
    return out;
}

} // namespace ss::cfb
