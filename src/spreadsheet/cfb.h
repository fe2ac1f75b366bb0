#pragma once
// OLE2 compound file (MS-CFB): read every stream of a version 3 or 4 file, write a new version 3 file
// with 512-byte sectors.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace ss::cfb {

struct Stream {
    std::string name;                 // UTF-8, e.g. "Workbook", "\x05SummaryInformation"
    std::vector<std::uint8_t> data;
};

// A storage with its class id ("" is the root storage; "a/b" is storage b inside storage a).
// Listed for every storage of a file, empty ones included, so that writing them back keeps them.
struct Storage {
    std::string name;
    std::array<std::uint8_t, 16> clsid{};
};

// Everything a compound file holds. A stream whose own sectors are damaged is left out of
// `streams` and named in `damaged` with the reason; damage to the file's structure (header,
// FAT, directory) still throws.
struct Contents {
    std::vector<Stream> streams;
    std::vector<Storage> storages;
    std::vector<std::pair<std::string, std::string>> damaged;   // stream name, what is wrong
};
Contents readContents(std::span<const std::uint8_t> bytes);

// Every stream of the root storage (streams in sub-storages are listed with "storage/stream" names).
// Throws ss::FormatError with a clear message on any damage; never reads out of bounds, never loops.
std::vector<Stream> read(std::span<const std::uint8_t> bytes);

// Finds one stream by name (case-insensitive, as CFB compares names); nullptr when absent.
const Stream* find(const std::vector<Stream>& streams, const std::string& name);

// A complete compound file holding the given root streams (small ones in the mini stream). A name
// "storage/stream" puts the stream inside that storage. Throws ss::FormatError for a name that is
// empty, longer than 31 UTF-16 units, holds '\\', ':' or '!', or is used twice (case-insensitively).
std::vector<std::uint8_t> write(const std::vector<Stream>& streams);
// Leaves out what write() would refuse: names it cannot store, a name used twice, a stream
// where a storage of the same name is needed. For copying streams from a file whose
// directory was sloppier than a writer may be.
void dropUnwritable(std::vector<Stream>& streams, std::vector<Storage>& storages);
// The same with the storages' class ids, and storages that hold no stream.
std::vector<std::uint8_t> write(const std::vector<Stream>& streams, const std::vector<Storage>& storages);

} // namespace ss::cfb
