#pragma once
#include <QCursor>
#include <QString>

#include <optional>

namespace corvantis {

// The hand cursor read from a .cur file; nullopt when the file is missing or unreadable.
std::optional<QCursor> loadCursorFile(const QString& path);

class Guard;
class PointerRules;
// Makes the hand cursor beside the program the window's mouse icon. Without the file the window
// keeps the arrow; a file that cannot be read is reported as "Invalid picture" at loadStep.
void LoadHandCursor(Guard& g, int existsStep, int loadStep, PointerRules& rules);

} // namespace corvantis
