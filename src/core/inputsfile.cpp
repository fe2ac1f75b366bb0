#include "core/inputsfile.h"

#include "core/numbertext.h"

#include <QRegularExpression>
#include <QStringDecoder>

namespace corvantis {

std::vector<DelimitedRow> splitDelimitedRows(const QString& text, QChar separator)
{
    std::vector<DelimitedRow> rows;
    DelimitedRow row;
    QString field;
    int line = 1;
    row.line = line;
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
                if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && (i + 1 >= n || text.at(i + 1) != QLatin1Char('\n'))))
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == QLatin1Char('"') && field.isEmpty()) {
            quoted = true;
            anything = true;
        } else if (c == separator) {
            row.fields << field;
            field.clear();
            anything = true;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            row.fields << field;
            field.clear();
            rows.push_back(row);
            row = DelimitedRow{{}, ++line};
            anything = false;
        } else {
            field += c;
            anything = true;
        }
    }
    if (anything || !field.isEmpty()) {   // the last row had no line break after it
        row.fields << field;
        rows.push_back(row);
    }
    return rows;
}

QString plainAmountText(const QString& amount, const QLocale& locale)
{
    const std::optional<DecimalText> d = ReadNumber(amount, QLocale());
    if (!d)
        return amount;
    QString text = d->whole;
    if (!d->fraction.isEmpty())
        text += locale.decimalPoint() + d->fraction;
    if (d->negative && !d->isZero())
        text.prepend(locale.negativeSign());
    return text;
}

QStringList lineFields(const QString& name, const QString& indPercent, const QStringList& amounts, const QLocale& locale)
{
    QString ind = indPercent;
    if (LocaleName(locale) != LocaleName(QLocale())) {
        if (const std::optional<DecimalText> d = ReadPercentage(indPercent, QLocale()))
            ind = NumberText(*d, locale);
    }
    QStringList fields{name, ind};
    for (const QString& a : amounts)
        fields << plainAmountText(a, locale);
    return fields;
}

std::optional<QLocale> localeNamed(const QString& name)
{
    QString n = name.trimmed();
    n = n.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);   // de_DE.UTF-8@euro
    if (n.isEmpty())
        return std::nullopt;
    if (n == QLatin1String("C") || n == QLatin1String("POSIX"))
        return QLocale::c();
    const QLocale locale(n);
    if (locale.language() == QLocale::C)
        return std::nullopt;
    return locale;
}

QChar inputsFileSeparator(const QString& fileName, const QLocale& locale)
{
    const QString lower = fileName.toLower();
    for (const char* ext : {".tsv", ".tab", ".txt"}) {
        if (lower.endsWith(QLatin1String(ext)))
            return QLatin1Char('\t');
    }
    return locale.decimalPoint() == QLatin1String(",") ? QLatin1Char(';') : QLatin1Char(',');
}

namespace {

// The text of the file's bytes: a byte-order mark names its encoding; without one, UTF-8 when
// the bytes are valid UTF-8, else Latin-1 (older spreadsheets on Western systems).
QString decodeInputs(const QByteArray& bytes)
{
    const QStringConverter::Encoding encoding =
        QStringConverter::encodingForData(bytes).value_or(QStringConverter::Utf8);
    QStringDecoder decoder(encoding);   // drops the mark
    const QString text = decoder.decode(bytes);
    if (!decoder.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

bool isEmptyRow(const DelimitedRow& row)
{
    for (const QString& f : row.fields) {
        if (!f.trimmed().isEmpty())
            return false;
    }
    return true;
}

// Labels are matched without regard to case or blanks around them.
bool isLabel(const QString& field, const char* label)
{
    return field.trimmed().compare(QLatin1String(label), Qt::CaseInsensitive) == 0;
}

bool isKeyRow(const DelimitedRow& row)
{
    const QString first = row.fields.value(0);
    return isLabel(first, kInputsLocaleLabel) || isLabel(first, kInputsCompanyLabel)
        || isLabel(first, kInputsFiscalStartLabel);
}

// The header's second column: "IND. %", "IND %" or "Ind.%".
bool isIndHeading(const QString& field)
{
    QString f = field.toUpper();
    f.remove(QRegularExpression(QStringLiteral("[\\s.]")));
    return f == QLatin1String("IND%");
}

// Where the header row is among the rows split with one separator; -1 when the rows before it
// are not all key rows or it is not there.
int headerIndex(const std::vector<DelimitedRow>& rows)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        if (isEmptyRow(rows[i]) || isKeyRow(rows[i]))
            continue;
        if (rows[i].fields.size() >= kColumnCount && isIndHeading(rows[i].fields.at(kIndColumn)))
            return int(i);
        return -1;
    }
    return -1;
}

QString columnName(int column)
{
    if (column == kNameColumn)
        return QStringLiteral("the name");
    if (column == kIndColumn)
        return QStringLiteral("IND. %");
    return QStringLiteral("month %1").arg(column - 1);
}

} // namespace

InputsFileContent readInputsFile(const QByteArray& bytes, const std::optional<QLocale>& locale, const DateReader& moreDates)
{
    InputsFileContent out;
    auto problem = [&](int line, int column, const QString& text) { out.problems.push_back({line, column, text}); };

    const QString text = decodeInputs(bytes);
    std::vector<DelimitedRow> rows;
    int header = -1;
    for (const QChar separator : {QLatin1Char('\t'), QLatin1Char(';'), QLatin1Char(',')}) {
        rows = splitDelimitedRows(text, separator);
        header = headerIndex(rows);
        if (header >= 0)
            break;
    }
    if (header < 0) {
        problem(0, 0, QStringLiteral("no header row (Name, IND. %, Month 1 ... Month 12) after the rows %1, %2 and %3")
                          .arg(QLatin1String(kInputsLocaleLabel), QLatin1String(kInputsCompanyLabel),
                               QLatin1String(kInputsFiscalStartLabel)));
        return out;
    }

    // The rows before the header: one label and its value each.
    const DelimitedRow* companyRow = nullptr;
    const DelimitedRow* dateRow = nullptr;
    const DelimitedRow* localeRow = nullptr;
    for (int i = 0; i < header; ++i) {
        const DelimitedRow& row = rows[size_t(i)];
        if (isEmptyRow(row))
            continue;
        const QString first = row.fields.value(0);
        const DelimitedRow** slot = isLabel(first, kInputsLocaleLabel) ? &localeRow
                                    : isLabel(first, kInputsCompanyLabel) ? &companyRow
                                                                          : &dateRow;
        if (*slot)
            problem(row.line, 1, QStringLiteral("a second \"%1\" row (the first is on line %2)").arg(first.trimmed()).arg((*slot)->line));
        *slot = &row;
        for (qsizetype c = 2; c < row.fields.size(); ++c) {
            if (!row.fields.at(c).trimmed().isEmpty())
                problem(row.line, int(c + 1), QStringLiteral("\"%1\" after the value of \"%2\"").arg(row.fields.at(c), first.trimmed()));
        }
    }

    out.locale = QLocale();
    if (locale) {
        out.locale = *locale;
    } else if (localeRow) {
        if (const std::optional<QLocale> named = localeNamed(localeRow->fields.value(1)))
            out.locale = *named;
        else
            problem(localeRow->line, 2, QStringLiteral("\"%1\" names no locale").arg(localeRow->fields.value(1)));
    }
    const QLocale& in = out.locale;
    const QLocale current;
    const bool sameLocale = LocaleName(in) == LocaleName(current);
    const QString inName = LocaleName(in);

    out.inputs.companyName = companyRow ? companyRow->fields.value(1) : QString();

    if (!dateRow) {
        problem(0, 0, QStringLiteral("no \"%1\" row before the header").arg(QLatin1String(kInputsFiscalStartLabel)));
    } else {
        const QString dateText = dateRow->fields.value(1).trimmed();
        QDate date = dateFromSetting(dateText, in);
        if (!date.isValid() && moreDates && !dateText.isEmpty())
            date = moreDates(dateText, in).value_or(QDate());
        if (!date.isValid())
            problem(dateRow->line, 2, QStringLiteral("%1 \"%2\" is no date in %3 or ISO 8601 (2025-04-01)")
                                          .arg(QLatin1String(kInputsFiscalStartLabel), dateText, inName));
        else if (date < kFirstDate || date > kLastDate)
            problem(dateRow->line, 2, QStringLiteral("%1 \"%2\" is outside the years 1601 to 9999")
                                          .arg(QLatin1String(kInputsFiscalStartLabel), dateText));
        out.inputs.fiscalStart = date;
    }

    // The 33 lines, then nothing but empty rows.
    int line = 0;
    for (size_t i = size_t(header) + 1; i < rows.size(); ++i) {
        const DelimitedRow& row = rows[i];
        if (line >= kLineCount) {
            if (!isEmptyRow(row))
                problem(row.line, 0, QStringLiteral("a row after the %1 lines of the sheet").arg(kLineCount));
            continue;
        }
        const QString given = row.fields.value(kNameColumn).trimmed();
        const QString lineLabel = QStringLiteral("line %1 (%2)").arg(line + 1).arg(given.isEmpty() ? designName(line).trimmed() : given);
        if (row.fields.size() < kColumnCount) {
            problem(row.line, 0, QStringLiteral("%1 has %2 columns; a line has %3: name, IND. %, 12 months")
                                     .arg(lineLabel).arg(row.fields.size()).arg(kColumnCount));
        } else {
            for (qsizetype c = kColumnCount; c < row.fields.size(); ++c) {
                if (!row.fields.at(c).trimmed().isEmpty())
                    problem(row.line, int(c + 1), QStringLiteral("\"%1\" beyond the 12 months of %2").arg(row.fields.at(c), lineLabel));
            }
        }
        for (int column = 0; column < kColumnCount; ++column) {
            const QString field = row.fields.value(column);
            const int fileColumn = column + 1;
            auto bad = [&](const QString& why) {
                problem(row.line, fileColumn, QStringLiteral("%1 of %2: %3").arg(columnName(column), lineLabel, why));
            };
            QString value;
            if (column == kNameColumn) {
                if (field.isEmpty())
                    value = designName(line);
                else if (field.trimmed().isEmpty())
                    bad(QStringLiteral("a line name cannot be blank"));
                else
                    value = field;
            } else if (column == kIndColumn) {
                if (field.isEmpty())
                    value = QStringLiteral("0");
                else if (sameLocale && IsNumeric(field))
                    value = field;   // kept as typed, as the window keeps it
                else if (const std::optional<DecimalText> d = ReadPercentage(field, in))
                    value = NumberText(*d, current);
                else
                    bad(QStringLiteral("\"%1\" is no number in %2").arg(field, inName));
            } else {
                if (field.isEmpty())
                    value = FormatAmount(QStringLiteral("0"), 2);
                else if (ReadNumber(field, in))
                    value = FormatReadableAmount(field, 2, in).value_or(QString());
                else
                    bad(QStringLiteral("\"%1\" is no amount in %2").arg(field, inName));
            }
            out.inputs.setCell(line, column, value);
        }
        ++line;
    }
    if (line < kLineCount)
        problem(0, 0, QStringLiteral("%1 lines after the header; the sheet has %2").arg(line).arg(kLineCount));
    return out;
}

namespace {

QString csvField(const QString& field, QChar separator)
{
    if (!field.contains(separator) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\n'))
        && !field.contains(QLatin1Char('\r')))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QByteArray inputsFileText(const ProjectionInputs& inputs, const QLocale& locale, QChar separator)
{
    QString out;
    auto row = [&](const QStringList& fields) {
        QStringList quoted;
        for (const QString& f : fields)
            quoted << csvField(f, separator);
        out += quoted.join(separator) + QLatin1Char('\n');
    };
    // "de_DE" where that names the same locale, as people write it; else the full name.
    const QString localeText = LocaleName(QLocale(locale.name())) == LocaleName(locale) ? locale.name() : LocaleName(locale);
    row({QLatin1String(kInputsLocaleLabel), localeText});
    row({QLatin1String(kInputsCompanyLabel), inputs.companyName});
    row({QLatin1String(kInputsFiscalStartLabel), inputs.fiscalStart.toString(Qt::ISODate)});
    QStringList header{QStringLiteral("Name"), QLatin1String(kInputsIndLabel)};
    for (int m = 1; m <= kMonthCount; ++m)
        header << QStringLiteral("Month %1").arg(m);
    row(header);
    for (int line = 0; line < kLineCount; ++line) {
        QStringList amounts;
        for (int m = 1; m <= kMonthCount; ++m)
            amounts << inputs.cell(line, monthColumn(m));
        row(lineFields(inputs.cell(line, kNameColumn), inputs.cell(line, kIndColumn), amounts, locale));
    }
    return out.toUtf8();
}

} // namespace corvantis
