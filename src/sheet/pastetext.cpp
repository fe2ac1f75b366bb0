#include "sheet/pastetext.h"

#include "core/numbertext.h"

#include <QLocale>

namespace corvantis::sheet {

std::vector<QStringList> splitClipboardRows(const QString& text)
{
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;     // inside a quoted field
    bool anything = false;   // the current row has begun
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == QLatin1Char('"') && field.isEmpty()) {
            quoted = true;
            anything = true;
        } else if (c == QLatin1Char('\t')) {
            row << field;
            field.clear();
            anything = true;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            row << field;
            field.clear();
            rows.push_back(row);
            row.clear();
            anything = false;
        } else {
            field += c;
            anything = true;
        }
    }
    if (anything || !field.isEmpty()) {   // the last row had no line break after it
        row << field;
        rows.push_back(row);
    }
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

QString plainAmountText(const QString& amount)
{
    const QLocale locale;
    const std::optional<DecimalText> d = ReadNumber(amount, locale);
    if (!d)
        return amount;
    QString text = d->whole;
    if (!d->fraction.isEmpty())
        text += locale.decimalPoint() + d->fraction;
    if (d->negative && !d->isZero())
        text.prepend(locale.negativeSign());
    return text;
}

QString lineAsRow(const QString& name, const QString& indPercent, const QStringList& amounts)
{
    auto oneField = [](QString s) {
        for (QChar& c : s) {
            if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
                c = QLatin1Char(' ');
        }
        return s;
    };
    QStringList fields{oneField(name), oneField(indPercent)};
    for (const QString& a : amounts)
        fields << oneField(plainAmountText(a));
    return fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
}

} // namespace corvantis::sheet
