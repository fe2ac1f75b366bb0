#pragma once
// The inputs of a projection: the company name, the date the fiscal year begins and 33 lines
// (seven revenue categories, seven cost-of-sales categories, nineteen expenses), each with a
// name, an IND. % and twelve monthly amounts. Amounts and percentages are text, as typed.
//
// StoredInputs reads and writes them in the settings store. The main window, the command line
// and anything that changes many cells at once go through it, so every key is spelled once.
#include <QDate>
#include <QHash>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace corvantis {

class SettingsStore;

inline constexpr int kLineCount = 33;
inline constexpr int kMonthCount = 12;
inline constexpr int kColumnCount = 14;   // name, IND. %, months 1-12
// The input columns of a line.
inline constexpr int kNameColumn = 0;
inline constexpr int kIndColumn = 1;
constexpr int monthColumn(int month1to12) { return month1to12 + 1; }

// The range of dates the date picker accepts, and so of stored fiscal starts.
inline const QDate kFirstDate(1601, 1, 1);
inline const QDate kLastDate(9999, 12, 31);

// The default text of each line's name (lines 14 and 15 end in a blank by design).
QString designName(int line);

// The stored text of the fiscal start date: the locale's short date form with a four-digit year.
QString dateSettingText(const QDate& date, const QLocale& locale = QLocale());
// Reads a stored date written under `locale`: the short form with a four-digit year, the
// locale's own short form (two-digit years 30-99 in the 1900s, 00-29 in the 2000s) or ISO 8601.
// Invalid when none fits.
QDate dateFromSetting(const QString& text, const QLocale& locale = QLocale());

// A key of the store. Its spelling is data: stores written by every earlier version hold these
// names, so they never change.
class InputKey {
public:
    static InputKey companyName();
    static InputKey fiscalStart();
    // Column 0 the line's name, 1 its IND. %, 2..13 the months 1..12.
    static InputKey cell(int line, int column);

    // As the store spells it ("txtInd7", "txtYear1_12").
    const QString& name() const { return mName; }

private:
    explicit InputKey(QString name) : mName(std::move(name)) {}
    QString mName;
};

// The name of the control a column's cells belong to ("txtRevenue", "txtInd", "txtYear1" ...):
// the stem of their keys, and so of their names in the window.
QString inputControlName(int column);
// The key of a cell from its control name and line ("txtInd" + 7 gives txtInd7). "txtYear1" +
// 10..29 would coincide with "txtYear11"/"txtYear12" + 0..9, so month 1 of those lines is kept
// apart as "txtYear1_" + line.
QString cellSettingKey(const QString& control, int line);

// A snapshot of every input, as texts; what generation takes.
struct ProjectionInputs {
    QString companyName;
    QDate fiscalStart;
    std::array<std::array<QString, kColumnCount>, kLineCount> cells;

    // The text of one cell; empty outside the sheet.
    QString cell(int line, int column) const;
    void setCell(int line, int column, const QString& text);
};

// The inputs in a settings store. Texts were written in the locale the store names (or, in a
// store older than that name, in today's); they are read in that locale and given back in the
// forms of today's locale (the default QLocale), the ones the window shows and the workbook reads.
class StoredInputs {
public:
    explicit StoredInputs(SettingsStore& store);

    SettingsStore& store() const { return mStore; }
    // True when the store holds not a single input of the main window.
    bool isEmpty() const;
    // True when the store names a locale other than today's for its texts.
    bool writtenInOtherLocale() const { return mOtherLocale; }

    // Each stored input, or `defaultValue` when none is stored.
    QString companyName(const QString& defaultValue) const;
    // The stored date text; null when none is stored.
    QString fiscalStartText() const;
    // The stored date, read in the locale it was written in and else in today's; `fallback` when
    // none is stored. Throws StepError "Type mismatch" for a text no locale reads as a date and
    // "Invalid property value" for a date the picker cannot show.
    QDate fiscalStart(const QDate& fallback) const;
    QString lineName(int line) const;            // the design name when none is stored
    // The stored IND. % in the current locale's sign and decimal mark; "0" when none is stored.
    QString indPercent(int line) const;
    // The stored IND. % as the store holds it, "0" when none is stored.
    QString storedIndPercent(int line) const;
    // The stored amount as the current locale's currency text (FormatAmount); a missing one is
    // zero. A text that the locale it was written in does not read as an amount, in a store that
    // names today's locale, is given back as stored (amountKeptAsTyped): it is never turned into a
    // number of another size. In an older store, or one of another locale, such a text is reduced
    // to its digits as it always was, and throws StepError ("Type mismatch") when even that is no
    // amount.
    QString amount(int line, int month1to12) const;
    // True when amount() gives the stored text as it is, for the user to correct.
    bool amountKeptAsTyped(int line, int month1to12) const;
    // Both at once, from one read of the store: what the window shows and whether it is the
    // stored text kept as typed.
    struct ShownAmount {
        QString text;
        bool keptAsTyped = false;
    };
    ShownAmount shownAmount(int line, int month1to12) const;
    // The amounts kept as typed, one line each: "line 23 (Rent), month 3: 5OO".
    QStringList amountsKeptAsTyped() const;

    // Every input, for work without windows: a missing or unreadable date gives `today`, an
    // unreadable amount zero, as the main window shows them after its start-up reports.
    ProjectionInputs readAll(const QDate& today) const;

    // Writing: each value reaches the disk at once (unless a SettingsStore::Batch holds it).
    void saveCompanyName(const QString& text);
    void saveFiscalStart(const QDate& date);   // in the current locale's form
    // Stores `date` as the fiscal start when the store has none yet, so the months stay where
    // they are on every later day. A stored date, readable or not, is left alone.
    void keepFiscalStart(const QDate& date);
    void saveCell(int line, int column, const QString& text);
    // Records that every stored text is now in the current locale's forms.
    void markTextsInCurrentLocale();
    // True when the store has never named the locale of its texts or names another one.
    bool localeMarkNeeded() const { return !mWrittenIn || mOtherLocale; }

private:
    QString get(const InputKey& key, const QString& defaultValue) const;
    ShownAmount readAmount(const QString& stored) const;
    mutable QHash<QString, ShownAmount> mShown;   // stored text -> shown, for mShownLocale
    mutable QLocale mShownLocale;
    SettingsStore& mStore;
    std::optional<QLocale> mWrittenIn;
    bool mOtherLocale = false;
};

} // namespace corvantis
