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

// Thrown when a workbook is sound but holds something the engine will not read, such as a
// password-protected (encrypted) workbook. The message says what it is.
class UnsupportedError : public FormatError {
public:
    using FormatError::FormatError;
};

// Thrown when a request would need more than the engine allows itself, checked before any of
// the work is done ("The picture of the range would be 40000 x 90000 pixels, ...").
class LimitError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown when a file cannot be read or written at all.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace ss
