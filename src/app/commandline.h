#pragma once
// The program from a script: `corvantis --generate PATH` writes the projection of the stored
// inputs to PATH (.xls, .xlsx or .pdf) with no window and no display; --help and --version.
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
