#pragma once
// The program from a script: `corvantis --generate PATH` writes the projection to PATH (.xls,
// .xlsx or .pdf, or standard output) with no window and no display, from the stored inputs, another
// store (--store) or an inputs file (--inputs); --export-inputs writes the figures as such a file;
// --inputs alone puts a file's figures into the store; --help and --version. Exit statuses: 0 done,
// 1 a fault of the program, 2 usage, 3 inputs that cannot be read, 4 output that cannot be written.
#include <QString>

#include <optional>

namespace corvantis {

// Handles the command line before any window exists. Returns the exit status when the
// arguments asked for the command-line program, nullopt when the windows should start.
// Creates its own QGuiApplication on the offscreen platform.
std::optional<int> runCommandLine(int argc, char** argv);

// The program's version ("1.0.0"), as --version tells it.
QString programVersion();

} // namespace corvantis
