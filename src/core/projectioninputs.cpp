#include "core/projectioninputs.h"

#include "core/guard.h"
#include "core/numbertext.h"
#include "core/settingsstore.h"

#include <QRegularExpression>

namespace corvantis {

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

// --- the fiscal start's stored text -----------------------------------------------------------

namespace {

// The short date format with any two-digit year widened to four digits.
QString fourDigitShortFormat(const QLocale& locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QRegularExpression(QStringLiteral("(?<!y)yy(?!y)")), QStringLiteral("yyyy"));
    return format;
}

// The text with every digit written as a Latin one (a locale may write its own).
QString latinDigits(const QString& text)
{
    QString out;
    const QList<uint> codePoints = text.toUcs4();
    for (const uint u : codePoints) {
        const char32_t c = u;
        if (QChar::category(c) == QChar::Number_DecimalDigit && QChar::digitValue(c) >= 0)
            out += QChar(u'0' + QChar::digitValue(c));
        else
            out += QString::fromUcs4(&c, 1);
    }
    return out;
}

QDate readDate(const QString& text, const QLocale& locale)
{
    // The form this program writes: it must carry the whole four-digit year.
    QDate d = locale.toDate(text, fourDigitShortFormat(locale));
    if (d.isValid() && latinDigits(text).contains(QStringLiteral("%1").arg(d.year(), 4, 10, QLatin1Char('0'))))
        return d;

    // The locale's own short form, with a two-digit year where the locale writes one.
    const QString shortFormat = locale.dateFormat(QLocale::ShortFormat);
    d = locale.toDate(text, shortFormat);
    if (d.isValid()) {
        if (!shortFormat.contains(QLatin1String("yyyy"))) {
            const int yy = d.year() % 100;
            d = QDate(yy < 30 ? 2000 + yy : 1900 + yy, d.month(), d.day());
        }
        if (d.isValid())
            return d;
    }

    return QDate::fromString(text, Qt::ISODate);
}

} // namespace

QString dateSettingText(const QDate& date, const QLocale& locale)
{
    return locale.toString(date, fourDigitShortFormat(locale));
}

QDate dateFromSetting(const QString& stored, const QLocale& locale)
{
    const QString text = stored.trimmed();
    if (text.isEmpty())
        return QDate();
    QDate d = readDate(text, locale);
    // Qt reads no digits beyond the 16-bit range (Chakma, Adlam): those are read as Latin ones.
    if (!d.isValid()) {
        const QString latin = latinDigits(text);
        if (latin != text)
            d = readDate(latin, locale);
    }
    return d;
}

// --- the store's keys: every spelling of them lives here ------------------------------------

namespace {

QString makeInputControlName(int column)
{
    if (column == kNameColumn)
        return QStringLiteral("txtRevenue");
    if (column == kIndColumn)
        return QStringLiteral("txtInd");
    return QStringLiteral("txtYear") + QString::number(column - 1);
}

} // namespace

QString inputControlName(int column)
{
    // Asked for every cell of every line at start-up: the sheet's own columns are named once.
    static const std::array<QString, kColumnCount> names = [] {
        std::array<QString, kColumnCount> all;
        for (int c = 0; c < kColumnCount; ++c)
            all[static_cast<std::size_t>(c)] = makeInputControlName(c);
        return all;
    }();
    if (column >= 0 && column < kColumnCount)
        return names[static_cast<std::size_t>(column)];
    return makeInputControlName(column);
}

QString cellSettingKey(const QString& control, int line)
{
    if (control == QLatin1String("txtYear1") && line >= 10 && line <= 29)
        return QStringLiteral("txtYear1_") + QString::number(line);
    return control + QString::number(line);
}

InputKey InputKey::companyName() { return InputKey(QStringLiteral("txtCompanyName")); }
InputKey InputKey::fiscalStart() { return InputKey(QStringLiteral("DTPicker1")); }
InputKey InputKey::cell(int line, int column)
{
    // Start-up reads every cell's key and the write-through of its text builds it again: the
    // sheet's keys are spelled once.
    using Keys = std::array<std::array<QString, kColumnCount>, kLineCount>;
    static const Keys* const keys = [] {
        auto* all = new Keys;
        for (int l = 0; l < kLineCount; ++l)
            for (int c = 0; c < kColumnCount; ++c)
                (*all)[static_cast<std::size_t>(l)][static_cast<std::size_t>(c)] = cellSettingKey(inputControlName(c), l);
        return all;
    }();
    if (line >= 0 && line < kLineCount && column >= 0 && column < kColumnCount)
        return InputKey((*keys)[static_cast<std::size_t>(line)][static_cast<std::size_t>(column)]);
    return InputKey(cellSettingKey(inputControlName(column), line));
}

// --- a snapshot -----------------------------------------------------------------------------

QString ProjectionInputs::cell(int line, int column) const
{
    if (line < 0 || line >= kLineCount || column < 0 || column >= kColumnCount)
        return {};
    return cells[static_cast<std::size_t>(line)][static_cast<std::size_t>(column)];
}

void ProjectionInputs::setCell(int line, int column, const QString& text)
{
    if (line < 0 || line >= kLineCount || column < 0 || column >= kColumnCount)
        return;
    cells[static_cast<std::size_t>(line)][static_cast<std::size_t>(column)] = text;
}

// --- the store --------------------------------------------------------------------------------

StoredInputs::StoredInputs(SettingsStore& store) : mStore(store), mWrittenIn(store.textsLocale())
{
    mOtherLocale = mWrittenIn && LocaleName(*mWrittenIn) != LocaleName(QLocale());
}

QString StoredInputs::get(const InputKey& key, const QString& defaultValue) const
{
    return mStore.get(key.name(), defaultValue);
}

bool StoredInputs::isEmpty() const
{
    auto stored = [&](const InputKey& key) { return !get(key, QString()).isNull(); };
    if (stored(InputKey::companyName()) || stored(InputKey::fiscalStart()))
        return false;
    for (int line = 0; line < kLineCount; ++line)
        for (int column = 0; column < kColumnCount; ++column)
            if (stored(InputKey::cell(line, column)))
                return false;
    return true;
}

QString StoredInputs::companyName(const QString& defaultValue) const
{
    return get(InputKey::companyName(), defaultValue);
}

QString StoredInputs::fiscalStartText() const
{
    return get(InputKey::fiscalStart(), QString());
}

QDate StoredInputs::fiscalStart(const QDate& fallback) const
{
    const QString stored = fiscalStartText();
    QDate date = fallback;
    if (!stored.isNull()) {
        date = mOtherLocale ? dateFromSetting(stored, *mWrittenIn) : QDate();
        if (!date.isValid())
            date = dateFromSetting(stored);
        if (!date.isValid())
            throw StepError(QStringLiteral("Type mismatch"));
    }
    if (date < kFirstDate || date > kLastDate)
        throw StepError(QStringLiteral("Invalid property value"));
    return date;
}

QString StoredInputs::lineName(int line) const
{
    return get(InputKey::cell(line, kNameColumn), designName(line));
}

QString StoredInputs::storedIndPercent(int line) const
{
    return get(InputKey::cell(line, kIndColumn), QStringLiteral("0"));
}

QString StoredInputs::indPercent(int line) const
{
    const QString stored = storedIndPercent(line);
    // A trailing "%" (a window closed in the middle of typing) is the cell's own unit: the digits
    // stay, so the workbook gets 12.5 for "12.5%" and not 0.125.
    if (stored.trimmed().endsWith(QLatin1Char('%'))) {
        if (const std::optional<DecimalText> percent = ReadPercentage(stored, mWrittenIn.value_or(QLocale())))
            return NumberText(*percent, QLocale());
    }
    return mOtherLocale ? ConvertNumberText(stored, *mWrittenIn) : stored;
}

StoredInputs::ShownAmount StoredInputs::shownAmount(int line, int month1to12) const
{
    const QString stored = get(InputKey::cell(line, monthColumn(month1to12)), QStringLiteral("0"));
    // Most amounts of a store are the same few texts ("0.00"): each is read once per locale.
    const QLocale today;
    if (mShownLocale != today) {
        mShown.clear();
        mShownLocale = today;
    }
    if (const auto known = mShown.constFind(stored); known != mShown.cend())
        return *known;
    if (mShown.size() >= 64)
        mShown.clear();
    ShownAmount shown = readAmount(stored);
    mShown.insert(stored, shown);
    return shown;
}

StoredInputs::ShownAmount StoredInputs::readAmount(const QString& stored) const
{
    if (mWrittenIn && !mOtherLocale) {
        // Written in today's locale: read as it was written, or kept as it is.
        if (std::optional<QString> shown = FormatReadableAmount(stored, 2, QLocale()))
            return {std::move(*shown), false};
        return {stored, true};
    }
    return {mOtherLocale ? FormatStoredAmount(stored, 2, *mWrittenIn) : FormatAmount(stored, 2), false};
}

QString StoredInputs::amount(int line, int month1to12) const
{
    return shownAmount(line, month1to12).text;
}

bool StoredInputs::amountKeptAsTyped(int line, int month1to12) const
{
    if (!mWrittenIn || mOtherLocale)
        return false;
    const QString stored = get(InputKey::cell(line, monthColumn(month1to12)), QStringLiteral("0"));
    return !FormatReadableAmount(stored, 2, QLocale()).has_value();
}

QStringList StoredInputs::amountsKeptAsTyped() const
{
    QStringList out;
    for (int line = 0; line < kLineCount; ++line) {
        for (int m = 1; m <= kMonthCount; ++m) {
            if (amountKeptAsTyped(line, m))
                out << QStringLiteral("line %1 (%2), month %3: %4")
                           .arg(line + 1)
                           .arg(lineName(line).trimmed())
                           .arg(m)
                           .arg(get(InputKey::cell(line, monthColumn(m)), QString()));
        }
    }
    return out;
}

ProjectionInputs StoredInputs::readAll(const QDate& today) const
{
    ProjectionInputs in;
    in.companyName = companyName(QString());
    try {
        in.fiscalStart = fiscalStart(today);
    } catch (const StepError&) {
        in.fiscalStart = today;
    }
    for (int line = 0; line < kLineCount; ++line) {
        in.setCell(line, kNameColumn, lineName(line));
        in.setCell(line, kIndColumn, indPercent(line));
        for (int m = 1; m <= kMonthCount; ++m) {
            QString text;
            try {
                text = amount(line, m);
            } catch (const std::exception&) {
                text = FormatAmount(QStringLiteral("0"), 2);
            }
            in.setCell(line, monthColumn(m), text);
        }
    }
    return in;
}

void StoredInputs::saveCompanyName(const QString& text)
{
    mStore.save(InputKey::companyName().name(), text);
}

void StoredInputs::saveFiscalStart(const QDate& date)
{
    mStore.save(InputKey::fiscalStart().name(), dateSettingText(date));
}

void StoredInputs::keepFiscalStart(const QDate& date)
{
    if (!fiscalStartText().isNull())
        return;
    // In the form of the locale the store's texts are written in; a store that names none gets
    // ISO 8601, which every locale reads back.
    mStore.save(InputKey::fiscalStart().name(),
                mWrittenIn ? dateSettingText(date, *mWrittenIn) : date.toString(Qt::ISODate));
}

void StoredInputs::saveCell(int line, int column, const QString& text)
{
    mStore.save(InputKey::cell(line, column).name(), text);
}

void StoredInputs::markTextsInCurrentLocale()
{
    mStore.save(QLatin1String(kLocaleKey), LocaleName(QLocale()));
    mWrittenIn = QLocale();
    mOtherLocale = false;
    mShown.clear();
}

} // namespace corvantis
