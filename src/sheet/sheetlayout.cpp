#include "sheet/sheetlayout.h"

namespace corvantis::sheet {

QString designName(int line)
{
    static const char* const kExpenses[] = {
        "Salary expenses ", "Payroll expenses ", "Outside services", "Supplies (office and operating)",
        "Repairs and maintenance", "Advertising", "Car, delivery and travel", "Accounting and legal", "Rent",
        "Telephone", "Utilities", "Insurance", "Taxes (real estate, etc.)", "Interest", "Depreciation",
        "Other expenses (specify)", "Other expenses (specify)", "Other expenses (specify)", "Misc. (unspecified)",
    };
    if (line >= 0 && line <= 6)
        return QStringLiteral("Category %1").arg(line + 1);
    if (line >= 7 && line <= 13)
        return QStringLiteral("Category %1").arg(line - 6);
    if (line >= 14 && line < kLineCount)
        return QString::fromLatin1(kExpenses[line - 14]);
    return QString();
}

QString monthControlName(int month1to12)
{
    return QStringLiteral("txtYear") + QString::number(month1to12);
}

} // namespace corvantis::sheet
