#pragma once
// The inputs of a projection as a text file a spreadsheet writes and reads: CSV (comma or
// semicolon) or tab-separated. One file holds one projection:
//
//   Locale,de_DE                        optional: the locale its figures are written in
//   Company Name,Kestrel Bakery
//   Fiscal Year Begins,2025-04-01       ISO 8601 or the locale's short date
//   Name,IND. %,Month 1,...,Month 12    the header row
//   Category 1,12.5,1250,1250,...       33 lines in the sheet's order
//
// A line has the columns the main window copies to the clipboard (name, IND. %, twelve plain
// amounts), so a copied line and a spreadsheet's row both fit. lineFields() is that one shape.
#include "core/projectioninputs.h"

#include <QByteArray>
#include <QChar>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace corvantis {

// The labels of the rows before the header and the header's IND. % column, as written.
inline constexpr const char* kInputsLocaleLabel = "Locale";
inline constexpr const char* kInputsCompanyLabel = "Company Name";
inline constexpr const char* kInputsFiscalStartLabel = "Fiscal Year Begins";
inline constexpr const char* kInputsIndLabel = "IND. %";

// One row of a delimited text and the line of the text it begins on (counting from 1).
struct DelimitedRow {
    QStringList fields;
    int line = 0;
};

// The rows of a delimited text: `separator` between fields, a line break ("\n", "\r\n" or "\r")
// between rows, a trailing line break ignored. A field in double quotes may hold separators,
// line breaks and doubled quotes, as spreadsheets quote such cells. Fields are not trimmed.
std::vector<DelimitedRow> splitDelimitedRows(const QString& text, QChar separator);

// An amount's text (read in the current locale) as a plain number in `locale`'s form: its minus
// sign and decimal mark, no currency, no digit groups ("-1250.5" for -$1,250.50 in English,
// "1250,5" in German). A text that is no amount is returned as it is.
QString plainAmountText(const QString& amount, const QLocale& locale = QLocale());

// The columns of one line as the window copies it and the file holds it: the name, the IND. %
// and the twelve amounts as plain numbers in `locale`'s form. Texts are in the current locale.
QStringList lineFields(const QString& name, const QString& indPercent, const QStringList& amounts,
                       const QLocale& locale = QLocale());

// A file's field that could not be read: its place in the file (line and column counting from
// 1; column 0 for the file as a whole or a missing row) and why.
struct InputsFileProblem {
    int line = 0;
    int column = 0;
    QString text;
};

struct InputsFileContent {
    ProjectionInputs inputs;   // in the current locale's forms, as the window holds them
    QLocale locale;            // the locale the figures were read in
    std::vector<InputsFileProblem> problems;   // empty when everything was read
};

// Reads dates beyond the stored forms (the window's typed dates); nullopt for no date.
using DateReader = std::function<std::optional<QDate>(const QString& text, const QLocale& locale)>;

// Reads an inputs file. Its figures are read in `locale` when given, else in the locale the file
// declares, else in the current one; each field as the window reads a typed text: an amount
// must be one in that locale, an IND. % a number (a trailing "%" allowed), a line name more than
// blanks. An empty field is a field not given: the line's design name, "0", a zero amount.
// The fiscal start is read as a stored date (the locale's short form, four or two-digit year,
// or ISO 8601), else by `moreDates`. The text may be UTF-8 (with or without a byte-order mark),
// UTF-16 with its mark, or else Latin-1; the separator is a tab, ";" or ",", whichever the
// header row is written with.
InputsFileContent readInputsFile(const QByteArray& bytes, const std::optional<QLocale>& locale,
                                 const DateReader& moreDates = {});

// The file's text for `inputs` (texts in the current locale's forms), its figures written in
// `locale`'s forms and declared in its first row; the fiscal start in ISO 8601. UTF-8.
QByteArray inputsFileText(const ProjectionInputs& inputs, const QLocale& locale, QChar separator);

// The separator a file of that name gets: a tab for .tsv, .tab and .txt; else ";" where
// `locale`'s decimal mark is a comma (as spreadsheets there write CSV), "," otherwise.
QChar inputsFileSeparator(const QString& fileName, const QLocale& locale);

// The locale a declaration or an option names ("de_DE", "de-DE", "de_DE.UTF-8", "C");
// nullopt for a name Qt knows no locale by.
std::optional<QLocale> localeNamed(const QString& name);

} // namespace corvantis
