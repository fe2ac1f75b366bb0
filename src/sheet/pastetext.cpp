#include "sheet/pastetext.h"

#include "core/inputsfile.h"
#include "core/numbertext.h"

#include <QLocale>

namespace corvantis::sheet {

std::vector<QStringList> splitClipboardRows(const QString& text)
{
    std::vector<QStringList> rows;
    for (DelimitedRow& row : splitDelimitedRows(text, QLatin1Char('\t')))
        rows.push_back(std::move(row.fields));
    return rows;
}

bool isSingleValue(const std::vector<QStringList>& rows)
{
    return rows.size() <= 1 && (rows.empty() || rows.front().size() <= 1);
}

PastePlacement placeRows(const std::vector<QStringList>& rows, int line, int column)
{
    PastePlacement p;
    for (size_t r = 0; r < rows.size(); ++r) {
        const int targetLine = line + int(r);
        for (qsizetype c = 0; c < rows[r].size(); ++c) {
            const int targetColumn = column + int(c);
            if (targetLine >= kLineCount || targetColumn >= kColumnCount)
                ++p.outside;
            else
                p.targets.push_back({targetLine, targetColumn, rows[r].at(c)});
        }
    }
    return p;
}

QString lineAsRow(const QString& name, const QString& indPercent, const QStringList& amounts)
{
    // The file's columns; tabs and line breaks inside a text become blanks so the row stays one.
    QStringList fields = lineFields(name, indPercent, amounts);
    for (QString& field : fields) {
        for (QChar& c : field) {
            if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
                c = QLatin1Char(' ');
        }
    }
    return fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
}

} // namespace corvantis::sheet
