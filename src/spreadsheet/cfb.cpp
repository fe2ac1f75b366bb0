// Placeholder until the compound file reader and writer land.
#include "spreadsheet/cfb.h"
#include "spreadsheet/error.h"
namespace ss::cfb {
std::vector<Stream> read(std::span<const std::uint8_t>) { throw FormatError("compound file: not implemented"); }
const Stream* find(const std::vector<Stream>&, const std::string&) { return nullptr; }
std::vector<std::uint8_t> write(const std::vector<Stream>&) { throw FormatError("compound file: not implemented"); }
}
