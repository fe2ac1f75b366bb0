#pragma once
// The spreadsheet application the program drives. It mirrors the small part of Excel's
// automation surface that generation and the sheet picture use, member names included,
// with the embedded engine (src/spreadsheet) doing the work.
//
// Objects are handles, the way automation references are: copying one copies the reference.
// Each application is independent and holds its own open workbooks. Once an application has
// been quit, or a workbook closed, every call through a handle that refers to it throws
// ExcelError, whose text says what went wrong.
//
//   auto app = CreateApplication();
//   Workbook book = app->Workbooks().Open(path, true);
//   app->Worksheets(1).Cells(2, 11) = companyName;
//   app->Range("B2").Select();
//   book.SaveAs(target, 56);
//   app->Quit();
#include <QDate>
#include <QSize>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <stdexcept>

class QPainter;

namespace corvantis {

// The failure of any call on the application, a workbook, a sheet or a range.
class ExcelError : public std::runtime_error {
public:
    explicit ExcelError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

// File format codes accepted by Workbook::SaveAs; both write an Excel 97-2003 workbook.
inline constexpr int xlExcel8 = 56;
inline constexpr int xlNormal = -4143;

// The version text the embedded engine reports, in the form Excel uses.
inline constexpr const char* kEngineVersion = "16.0";

namespace excel_detail {
struct AppState;
struct BookState;
} // namespace excel_detail

class Application;
class Workbook;
class Worksheet;

// A rectangular block of cells on one sheet. Rows() and Columns() give the same block seen as a
// collection of rows or of columns, which is what count() and the index then refer to.
class Range {
public:
    Range Rows() const;
    Range Rows(int index) const;          // 1-based, within the range
    Range Columns() const;
    Range Columns(int index) const;
    long count() const;                   // cells; rows of Rows(); columns of Columns()
    long Row() const;                     // sheet row number of the first row (1-based)
    long Column() const;                  // sheet column number of the first column (1-based)
    QString Address() const;              // "B2" or "B1:AC50"

    // Assigning a value: text is taken as typed text (a number in the user's conventions becomes
    // a number, an empty text empties the cell), a date becomes its date serial. The formulas of
    // the workbook follow. Every cell of the range receives the value.
    Range& operator=(const QString& text);
    Range& operator=(const char* text) { return *this = QString::fromUtf8(text); }
    Range& operator=(const QDate& date);
    Range& operator=(double number);
    // The value of the first cell after recalculation: invalid for an empty cell, else a
    // double, QString or bool; an error value reads as its text ("#DIV/0!").
    QVariant Value() const;
    QString Text() const;                 // the value as plain text (numbers unformatted)

    void Select() const;                  // makes the first cell the sheet's cursor
    // Widens the range's columns so that every number in the range shows whole (never "###")
    // under the workbook's marks and the user's, and every text in it ends before the next
    // text of its row. Columns already wide enough keep their width.
    void AutoFit() const;
    // Draws the range as the sheet shows it and puts the picture on the system clipboard.
    void CopyPicture() const;
    // Paints the picture CopyPicture makes onto any painter, one unit per pixel of that picture,
    // with its top-left corner at the painter's origin; the background is the caller's. The
    // painter's transform scales it, so an enlarged picture is drawn afresh, not stretched.
    void Paint(QPainter& painter) const;
    QSize PictureSize() const;   // the size of that picture in pixels

    Range(const Range&) = default;
    // `Cells(1, 1) = Cells(2, 2)` would only copy a reference here, not the value: not allowed.
    Range& operator=(const Range&) = delete;

private:
    friend class Worksheet;
    enum class Kind { Cells, Rows, Columns };
    Range(std::shared_ptr<excel_detail::BookState> book, int sheet, int r1, int c1, int r2, int c2, Kind kind);
    void assign(const QVariant& value);
    std::shared_ptr<excel_detail::BookState> mBook;
    int mSheet = 0;
    int mR1 = 0, mC1 = 0, mR2 = 0, mC2 = 0;   // 0-based, inclusive
    Kind mKind = Kind::Cells;
};

class Worksheet {
public:
    corvantis::Range Cells(int row, int column) const;   // 1-based
    corvantis::Range Range(const QString& address) const; // "B2", "A1:C3"
    corvantis::Range UsedRange() const;           // the smallest block holding every used cell; A1 when empty
    QString Name() const;
    int Index() const;                       // 1-based position in the workbook

private:
    friend class Workbook;
    friend class Application;
    Worksheet(std::shared_ptr<excel_detail::BookState> book, int sheet);
    std::shared_ptr<excel_detail::BookState> mBook;
    int mSheet = 0;
};

class Workbook {
public:
    Workbook() = default;                    // an empty reference
    bool isNull() const { return !mBook; }

    // Writes the workbook to `path` and makes that its file. 56 and -4143 write an Excel 97-2003
    // workbook; other codes are refused. The file a read-only workbook came from is never replaced.
    void SaveAs(const QString& path, int FileFormat = xlExcel8);
    void Close();                            // closes without a question; the file is not touched
    Worksheet ActiveSheet() const;
    Worksheet Worksheets(int index) const;   // 1-based
    int WorksheetsCount() const;
    QString Name() const;                    // file name
    QString FullName() const;                // full path
    bool ReadOnly() const;

private:
    friend class Application;
    friend class Workbooks;
    explicit Workbook(std::shared_ptr<excel_detail::BookState> book) : mBook(std::move(book)) {}
    std::shared_ptr<excel_detail::BookState> mBook;
};

// The open workbooks of one application, in the order they were opened.
class Workbooks {
public:
    // Opens a workbook file; it becomes the active workbook. Fails on a missing, unreadable or
    // damaged file. Read-only workbooks never write back to the file they came from.
    Workbook Open(const QString& path, bool readOnly = false);
    int count() const;
    Workbook operator()(int index) const;    // 1-based; the last one is the one opened last

private:
    friend class Application;
    explicit Workbooks(std::shared_ptr<excel_detail::AppState> app) : mApp(std::move(app)) {}
    std::shared_ptr<excel_detail::AppState> mApp;
};

class Application {
public:
    // A new, invisible application with alerts on. `version` is what Version() reports.
    explicit Application(const QString& version = QString::fromLatin1(kEngineVersion));
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    corvantis::Workbooks Workbooks() const;
    Workbook ActiveWorkbook() const;
    Worksheet ActiveSheet() const;
    Worksheet Worksheets(int index) const;   // of the active workbook, 1-based
    corvantis::Range Range(const QString& address) const; // on the active sheet
    bool Visible() const;
    void Visible(bool on);
    bool DisplayAlerts() const;
    void DisplayAlerts(bool on);
    QString Version() const;
    // Ends the application: its workbooks are closed unsaved and every later call fails.
    void Quit();
    bool hasQuit() const;

private:
    std::shared_ptr<excel_detail::AppState> d;
};

// Creating an application ("Excel.Application"). Throws ExcelError when none can be created.
std::shared_ptr<Application> CreateApplication();

// Test seam: replaces how applications are created and returns the previous factory. The factory
// may throw or return null to say that no application can be created; an empty function restores
// the engine.
using ApplicationFactory = std::function<std::shared_ptr<Application>()>;
ApplicationFactory setApplicationFactory(ApplicationFactory factory);

} // namespace corvantis
