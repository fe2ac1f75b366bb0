#pragma once
// OLE2 compound file (MS-CFB), version 3 with 512-byte sectors: read every stream, write a new file.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ss::cfb {

struct Stream {
    std::string name;                 // UTF-8, e.g. "Workbook", "\x05SummaryInformation"
    std::vector<std::uint8_t> data;
};

// Every stream of the root storage (streams in sub-storages are listed with "storage/stream" names).
// Throws ss::FormatError with a clear message on any damage; never reads out of bounds, never loops.
std::vector<Stream> read(std::span<const std::uint8_t> bytes);

// Finds one stream by name (case-insensitive, as CFB compares names); nullptr when absent.
const Stream* find(const std::vector<Stream>& streams, const std::string& name);

// A complete compound file holding the given root streams (small ones in the mini stream).
std::vector<std::uint8_t> write(const std::vector<Stream>& streams);

} // namespace ss::cfb
