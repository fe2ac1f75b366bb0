#pragma once
#include <stdexcept>
#include <string>

namespace ss {

// Thrown for anything wrong with outside input: a damaged file, a formula that does not parse.
// The message is meant for a person ("compound file: FAT chain loops at sector 12").
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown when a file cannot be read or written at all.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace ss
