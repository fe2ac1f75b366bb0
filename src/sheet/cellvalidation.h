#pragma once
// What leaving a cell of the main window does with its text.
#include <QString>

#include <optional>

namespace corvantis::sheet {

enum class CellKind { CompanyName, LineName, IndPercent, MonthAmount };

struct LeaveDecision {
    bool allowed = true;
    QString message;                      // shown before anything else when the leave is refused
    std::optional<QString> replacement;   // the cell's new text, when it changes
    bool selectAll = false;               // select the whole text once the focus is back
};

// Company name: always allowed. Line name: blanks only (the space character) refused.
// IND. %: must be numeric, refused ones become "0". Month: numeric ones are reformatted to the
// currency text with 2 decimals; refused ones become the formatted zero.
LeaveDecision leaveDecision(CellKind kind, const QString& text);

} // namespace corvantis::sheet
