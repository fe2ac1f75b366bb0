#include "sheet/cellvalidation.h"

#include "core/numbertext.h"

namespace corvantis::sheet {

namespace {
bool blanksOnly(const QString& text)
{
    for (const QChar c : text) {
        if (c != QLatin1Char(' '))
            return false;
    }
    return true;
}
} // namespace

LeaveDecision leaveDecision(CellKind kind, const QString& text)
{
    LeaveDecision d;
    switch (kind) {
    case CellKind::CompanyName:
        break;
    case CellKind::LineName:
        if (blanksOnly(text)) {
            d.allowed = false;
            d.message = QStringLiteral("Please enter Category.");
        }
        break;
    case CellKind::IndPercent:
        if (IsNumeric(text))
            break;
        // "12.5%": the cell is a percentage already, so the sign goes and the digits stay.
        if (const std::optional<DecimalText> percent = ReadPercentage(text, QLocale())) {
            d.replacement = NumberText(*percent);
        } else {
            d.allowed = false;
            d.message = QStringLiteral("Please enter a valid number.");
            d.replacement = QStringLiteral("0");
            d.selectAll = true;
        }
        break;
    case CellKind::MonthAmount:
        if (IsNumeric(text)) {
            d.replacement = FormatAmount(text, 2);
        } else {
            d.allowed = false;
            d.message = QStringLiteral("Please enter a valid amount.");
            d.replacement = FormatAmount(QStringLiteral("0"), 2);
            d.selectAll = true;
        }
        break;
    }
    return d;
}

} // namespace corvantis::sheet
