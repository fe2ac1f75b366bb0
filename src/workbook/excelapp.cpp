#include "workbook/excelapp.h"
#include "workbook/columnfit.h"

#include "core/files.h"
#include "core/guard.h"
#include "core/numbertext.h"
#include "core/safefile.h"

#include "spreadsheet/address.h"
#include "spreadsheet/calc.h"
#include "spreadsheet/datetime.h"
#include "spreadsheet/error.h"
#include "spreadsheet/model.h"
#include "spreadsheet/render/render.h"
#include "spreadsheet/textinput.h"
#include "spreadsheet/xls.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

namespace corvantis {

namespace excel_detail {

struct AppState {
    QString version;
    bool visible = false;
    bool displayAlerts = true;
    bool quit = false;
    std::vector<std::shared_ptr<BookState>> books;   // in the order opened
    std::shared_ptr<BookState> active;

    void check() const
    {
        if (quit)
            throw ExcelError(QStringLiteral("The spreadsheet application has been quit"));
    }
};

struct BookState {
    std::weak_ptr<AppState> app;
    ss::Workbook wb;
    QString path;             // absolute path of the workbook's file
    bool readOnly = false;
    QString protectedFile;    // the file a read-only workbook came from; never written
    bool closed = false;
    bool dirty = true;        // formulas need recomputing before anything is read
    // The user's conventions as typed text is read in them, spelt out when text is first
    // assigned and again when they have changed since.
    std::optional<ss::TypedTextReader> typedText;

    std::shared_ptr<AppState> checkedApp() const
    {
        std::shared_ptr<AppState> a = app.lock();
        if (!a || a->quit)
            throw ExcelError(QStringLiteral("The spreadsheet application has been quit"));
        if (closed)
            throw ExcelError(QStringLiteral("The workbook \"%1\" has been closed").arg(QFileInfo(path).fileName()));
        return a;
    }
    void check() const { checkedApp(); }
    ss::Sheet& sheet(int index)
    {
        check();
        if (index < 0 || index >= static_cast<int>(wb.sheets.size()))
            throw ExcelError(QStringLiteral("Subscript out of range: the workbook has no worksheet %1").arg(index + 1));
        return wb.sheets[static_cast<std::size_t>(index)];
    }
    const ss::TypedTextReader& typedTextReader(const ss::NumberLocale& conventions)
    {
        if (!typedText || !(typedText->locale() == conventions))
            typedText.emplace(conventions);
        return *typedText;
    }
    void calculate()
    {
        if (dirty) {
            ss::recalculate(wb);
            dirty = false;
        }
    }
};

} // namespace excel_detail

using excel_detail::AppState;
using excel_detail::BookState;

namespace {

ApplicationFactory& factory()
{
    static ApplicationFactory f;
    return f;
}

QString cellName(int row, int col) { return QString::fromStdString(ss::cellAddress(row, col)); }

bool parseCell(const QString& text, int& row, int& col) { return ss::parseCellAddress(text.toStdString(), row, col); }

// The user's conventions as the program reads amounts with them (the symbol as written, Indian
// digit groups, the locale's signs), so every amount the sheet writes reads as a number.
const ss::NumberLocale& numberLocale() { return amountConventions(); }

// Numbers drawn with the user's decimal and group marks, the way a spreadsheet program shows a
// workbook under the user's regional settings; the workbook's number formats stay as they are.
ss::RenderOptions regionalRenderOptions()
{
    const QLocale loc;
    ss::RenderOptions options;
    options.decimalSeparator = loc.decimalPoint().toStdString();
    options.groupSeparator = loc.groupSeparator().toStdString();
    return options;
}

// The format a new cell takes: its row's when the row has one, else its column's.
std::uint16_t defaultXf(const ss::Sheet& sh, int row, int col)
{
    if (auto it = sh.rows.find(row); it != sh.rows.end() && it->second.hasDefaultXf)
        return it->second.xf;
    for (const ss::ColumnInfo& ci : sh.columns)
        if (col >= ci.firstCol && col <= ci.lastCol)
            return ci.xf;
    return 15;
}

void storeValue(ss::Workbook& wb, ss::Sheet& sh, int row, int col, const ss::Value& v, bool isDate)
{
    auto it = sh.cells.find(ss::CellAddress{row, col});
    if (v.isBlank()) {
        if (it == sh.cells.end())
            return;
        it->second.value = ss::Value();
        it->second.formula.clear();
        if (it->second.xf == defaultXf(sh, row, col))
            sh.cells.erase(it);   // nothing left to keep
        return;
    }
    if (it == sh.cells.end()) {
        ss::Cell c;
        c.xf = defaultXf(sh, row, col);
        it = sh.cells.emplace(ss::CellAddress{row, col}, c).first;
    }
    it->second.value = v;
    it->second.formula.clear();
    // A date landing in a General cell is shown as a date, as a spreadsheet does on entry.
    if (isDate && it->second.xf < wb.xfs.size() && wb.xfs[it->second.xf].formatIndex == 0) {
        ss::Xf dated = wb.xfs[it->second.xf];
        dated.formatIndex = 14;
        wb.xfs.push_back(dated);
        it->second.xf = static_cast<std::uint16_t>(wb.xfs.size() - 1);
    }
}

QVariant toVariant(const ss::Value& v)
{
    switch (v.kind()) {
    case ss::Value::Kind::Blank:
        return QVariant();
    case ss::Value::Kind::Number:
        return v.number();
    case ss::Value::Kind::Text:
        return QString::fromStdString(v.text());
    case ss::Value::Kind::Boolean:
        return v.boolean();
    case ss::Value::Kind::Error:
        return QString::fromLatin1(ss::errorText(v.error()));
    }
    return QVariant();
}

QString samePathKey(const QString& path)
{
    const QFileInfo fi(path);
    const QString canonical = fi.canonicalFilePath();
    return canonical.isEmpty() ? fi.absoluteFilePath() : canonical;
}

} // namespace

// ---------------------------------------------------------------- Range

Range::Range(std::shared_ptr<BookState> book, int sheet, int r1, int c1, int r2, int c2, Kind kind)
    : mBook(std::move(book)), mSheet(sheet), mR1(r1), mC1(c1), mR2(r2), mC2(c2), mKind(kind)
{
}

Range Range::Rows() const
{
    mBook->check();
    return Range(mBook, mSheet, mR1, mC1, mR2, mC2, Kind::Rows);
}

Range Range::Rows(int index) const
{
    mBook->check();
    const int r = mR1 + index - 1;
    if (index < 1 || r >= ss::kMaxRows)
        throw ExcelError(QStringLiteral("Rows(%1): no such row in %2").arg(index).arg(Address()));
    return Range(mBook, mSheet, r, mC1, r, mC2, Kind::Cells);
}

Range Range::Columns() const
{
    mBook->check();
    return Range(mBook, mSheet, mR1, mC1, mR2, mC2, Kind::Columns);
}

Range Range::Columns(int index) const
{
    mBook->check();
    const int c = mC1 + index - 1;
    if (index < 1 || c >= ss::kMaxCols)
        throw ExcelError(QStringLiteral("Columns(%1): no such column in %2").arg(index).arg(Address()));
    return Range(mBook, mSheet, mR1, c, mR2, c, Kind::Cells);
}

long Range::count() const
{
    mBook->check();
    const long rows = mR2 - mR1 + 1, cols = mC2 - mC1 + 1;
    switch (mKind) {
    case Kind::Rows:
        return rows;
    case Kind::Columns:
        return cols;
    case Kind::Cells:
        break;
    }
    return rows * cols;
}

long Range::Row() const
{
    mBook->check();
    return mR1 + 1;
}

long Range::Column() const
{
    mBook->check();
    return mC1 + 1;
}

QString Range::Address() const
{
    if (mR1 == mR2 && mC1 == mC2)
        return cellName(mR1, mC1);
    return cellName(mR1, mC1) + QLatin1Char(':') + cellName(mR2, mC2);
}

void Range::assign(const QVariant& value)
{
    ss::Sheet& sh = mBook->sheet(mSheet);
    ss::Workbook& wb = mBook->wb;
    ss::Value v;
    bool isDate = false;
    if (value.typeId() == QMetaType::QDate) {
        const QDate d = value.toDate();
        if (!d.isValid())
            throw ExcelError(QStringLiteral("Cannot assign an invalid date to %1").arg(Address()));
        v = ss::dateToSerial(d.year(), d.month(), d.day(), wb.date1904);
        isDate = true;
    } else if (value.typeId() == QMetaType::Double) {
        v = value.toDouble();
    } else {
        v = mBook->typedTextReader(numberLocale()).value(value.toString().toStdString());
    }
    for (int r = mR1; r <= mR2; ++r)
        for (int c = mC1; c <= mC2; ++c)
            storeValue(wb, sh, r, c, v, isDate);
    mBook->dirty = true;
}

Range& Range::operator=(const QString& text)
{
    assign(QVariant(text));
    return *this;
}

Range& Range::operator=(const QDate& date)
{
    assign(QVariant(date));
    return *this;
}

Range& Range::operator=(double number)
{
    assign(QVariant(number));
    return *this;
}

QVariant Range::Value() const
{
    const ss::Sheet& sh = mBook->sheet(mSheet);
    mBook->calculate();
    auto it = sh.cells.find(ss::CellAddress{mR1, mC1});
    return it == sh.cells.end() ? QVariant() : toVariant(it->second.value);
}

QString Range::Text() const
{
    const QVariant v = Value();
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 15);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    return v.toString();
}

void Range::Select() const
{
    ss::Sheet& sh = mBook->sheet(mSheet);
    ss::Workbook& wb = mBook->wb;
    // Selecting happens on the active sheet; make this one active, as a click on its tab would.
    for (ss::Sheet& other : wb.sheets)
        other.selected = false;
    sh.selected = true;
    wb.activeSheet = mSheet;
    sh.activeCell = ss::CellAddress{mR1, mC1};
}

void Range::AutoFit() const
{
    mBook->sheet(mSheet);
    mBook->calculate();
    const ss::RenderOptions regional = regionalRenderOptions();
    NumberMarks marks;
    marks.decimal = QString::fromStdString(regional.decimalSeparator);
    marks.group = QString::fromStdString(regional.groupSeparator);
    autoFitColumns(mBook->wb, mSheet, ss::RangeAddress{mR1, mC1, mR2, mC2}, marks);
}

void Range::CopyPicture() const
{
    mBook->sheet(mSheet);
    mBook->calculate();
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!gui)
        throw ExcelError(QStringLiteral("CopyPicture: there is no clipboard to copy to"));
    QImage picture;
    try {
        picture = ss::renderRange(mBook->wb, mSheet, ss::RangeAddress{mR1, mC1, mR2, mC2}, regionalRenderOptions());
    } catch (const ss::LimitError& e) {
        // Too large to draw: said plainly, before anything was allocated for it.
        throw ExcelError(QStringLiteral("CopyPicture: %1").arg(QString::fromUtf8(e.what())));
    }
    if (picture.isNull())
        throw ExcelError(QStringLiteral("CopyPicture: the range %1 could not be drawn").arg(Address()));
    QGuiApplication::clipboard()->setImage(picture);
}

QSize Range::PictureSize() const
{
    mBook->sheet(mSheet);
    return ss::renderedSize(mBook->wb, mSheet, ss::RangeAddress{mR1, mC1, mR2, mC2}, regionalRenderOptions());
}

void Range::Paint(QPainter& painter) const
{
    mBook->sheet(mSheet);
    mBook->calculate();
    ss::paintRange(painter, mBook->wb, mSheet, ss::RangeAddress{mR1, mC1, mR2, mC2}, regionalRenderOptions());
}

// ---------------------------------------------------------------- Worksheet

Worksheet::Worksheet(std::shared_ptr<BookState> book, int sheet) : mBook(std::move(book)), mSheet(sheet) {}

corvantis::Range Worksheet::Cells(int row, int column) const
{
    mBook->sheet(mSheet);
    if (row < 1 || row > ss::kMaxRows || column < 1 || column > ss::kMaxCols)
        throw ExcelError(QStringLiteral("Cells(%1, %2): outside the sheet").arg(row).arg(column));
    return corvantis::Range(mBook, mSheet, row - 1, column - 1, row - 1, column - 1, corvantis::Range::Kind::Cells);
}

corvantis::Range Worksheet::Range(const QString& address) const
{
    mBook->sheet(mSheet);
    const QStringList parts = address.split(QLatin1Char(':'));
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    bool ok = parts.size() <= 2 && parseCell(parts.front(), r1, c1);
    if (ok && parts.size() == 2)
        ok = parseCell(parts.back(), r2, c2);
    else {
        r2 = r1;
        c2 = c1;
    }
    if (!ok)
        throw ExcelError(QStringLiteral("Range(\"%1\"): not a cell address").arg(address));
    return corvantis::Range(mBook, mSheet, std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2),
                            corvantis::Range::Kind::Cells);
}

corvantis::Range Worksheet::UsedRange() const
{
    const ss::Sheet& sh = mBook->sheet(mSheet);
    if (sh.cells.empty())
        return corvantis::Range(mBook, mSheet, 0, 0, 0, 0, corvantis::Range::Kind::Cells);
    int r1 = ss::kMaxRows, c1 = ss::kMaxCols, r2 = 0, c2 = 0;
    for (const auto& [at, cell] : sh.cells) {
        r1 = std::min(r1, at.row);
        r2 = std::max(r2, at.row);
        c1 = std::min(c1, at.col);
        c2 = std::max(c2, at.col);
    }
    return corvantis::Range(mBook, mSheet, r1, c1, r2, c2, corvantis::Range::Kind::Cells);
}

QString Worksheet::Name() const { return QString::fromStdString(mBook->sheet(mSheet).name); }

int Worksheet::Index() const
{
    mBook->sheet(mSheet);
    return mSheet + 1;
}

// ---------------------------------------------------------------- Workbook

namespace {
// A workbook is read whole into memory. Ours are tens of kilobytes; a file past this size (a
// damaged or sparse file, say) is refused before a single byte of it is loaded.
constexpr qint64 kLargestWorkbook = qint64(256) * 1024 * 1024;

BookState& live(const std::shared_ptr<BookState>& book)
{
    if (!book)
        throw ExcelError(QStringLiteral("Object variable not set: no workbook"));
    book->check();
    return *book;
}
} // namespace

void Workbook::SaveAs(const QString& path, int FileFormat)
{
    BookState& b = live(mBook);
    std::shared_ptr<AppState> app = b.checkedApp();
    if (FileFormat != xlExcel8 && FileFormat != xlNormal)
        throw ExcelError(QStringLiteral("SaveAs: file format %1 is not supported (56 or -4143 write an Excel 97-2003 workbook)")
                             .arg(FileFormat));
    if (path.trimmed().isEmpty())
        throw ExcelError(QStringLiteral("SaveAs: no file name given"));
    const QString target = QFileInfo(path).absoluteFilePath();
    const QString key = samePathKey(target);
    if (b.readOnly && key == samePathKey(b.protectedFile))
        throw ExcelError(QStringLiteral("\"%1\" is read-only: the workbook was opened read-only and cannot be saved over it")
                             .arg(QDir::toNativeSeparators(target)));
    for (const auto& other : app->books)
        if (other.get() != &b && samePathKey(other->path) == key)
            throw ExcelError(QStringLiteral("SaveAs: \"%1\" is the file of another open workbook")
                                 .arg(QDir::toNativeSeparators(target)));

    b.calculate();
    std::vector<std::uint8_t> bytes;
    try {
        bytes = ss::xls::writeFile(b.wb);
    } catch (const std::exception& e) {
        throw ExcelError(QStringLiteral("SaveAs: the workbook could not be written: %1").arg(QString::fromUtf8(e.what())));
    }
    try {
        // The generated workbook in the scratch folder is made again by the next generation.
        writeWholeFile(target, QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())),
                       IsScratchFile(target) ? Durability::Scratch : Durability::Synced);
    } catch (const StepError& e) {
        throw ExcelError(QString::fromUtf8(e.what()));
    }
    b.path = target;
    b.readOnly = false;
    b.protectedFile.clear();
}

void Workbook::Close()
{
    BookState& b = live(mBook);
    std::shared_ptr<AppState> app = b.checkedApp();
    b.closed = true;
    b.wb = ss::Workbook();   // a stale handle need not keep the sheet alive
    auto& books = app->books;
    books.erase(std::remove(books.begin(), books.end(), mBook), books.end());
    if (app->active == mBook)
        app->active = books.empty() ? nullptr : books.back();
}

Worksheet Workbook::ActiveSheet() const
{
    BookState& b = live(mBook);
    const int n = static_cast<int>(b.wb.sheets.size());
    return Worksheet(mBook, std::clamp(b.wb.activeSheet, 0, std::max(0, n - 1)));
}

Worksheet Workbook::Worksheets(int index) const
{
    BookState& b = live(mBook);
    b.sheet(index - 1);
    return Worksheet(mBook, index - 1);
}

int Workbook::WorksheetsCount() const { return static_cast<int>(live(mBook).wb.sheets.size()); }
QString Workbook::Name() const { return QFileInfo(live(mBook).path).fileName(); }
QString Workbook::FullName() const { return live(mBook).path; }
bool Workbook::ReadOnly() const { return live(mBook).readOnly; }

// ---------------------------------------------------------------- Workbooks

Workbook Workbooks::Open(const QString& path, bool readOnly)
{
    mApp->check();
    if (path.trimmed().isEmpty())
        throw ExcelError(QStringLiteral("Open: no file name given"));
    const QFileInfo fi(path);
    const QString shown = QDir::toNativeSeparators(fi.absoluteFilePath());
    if (!fi.exists())
        throw ExcelError(QStringLiteral("\"%1\" could not be found. Check the spelling of the file name, and verify "
                                        "that the file location is correct.")
                             .arg(shown));
    if (fi.isDir())
        throw ExcelError(QStringLiteral("\"%1\" is a folder, not a workbook").arg(shown));
    QFile file(fi.absoluteFilePath());
    if (!file.open(QIODevice::ReadOnly))
        throw ExcelError(QStringLiteral("\"%1\" cannot be read: %2").arg(shown, file.errorString()));
    if (file.size() > kLargestWorkbook)
        throw ExcelError(QStringLiteral("\"%1\" is not an Excel 97-2003 workbook or is damaged (%2 bytes is too large)")
                             .arg(shown)
                             .arg(file.size()));
    const QByteArray bytes = file.readAll();
    file.close();

    auto book = std::make_shared<BookState>();
    try {
        book->wb = ss::xls::readFile(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())));
    } catch (const ss::UnsupportedError& e) {
        // A workbook the engine reads but will not open (a password-protected one) is no damage.
        throw ExcelError(QStringLiteral("\"%1\": %2").arg(shown, QString::fromUtf8(e.what())));
    } catch (const std::exception& e) {
        throw ExcelError(QStringLiteral("\"%1\" is not an Excel 97-2003 workbook or is damaged (%2)")
                             .arg(shown, QString::fromUtf8(e.what())));
    }
    if (book->wb.sheets.empty())
        throw ExcelError(QStringLiteral("\"%1\" holds no worksheet").arg(shown));
    book->app = mApp;
    book->path = fi.absoluteFilePath();
    book->readOnly = readOnly;
    if (readOnly)
        book->protectedFile = book->path;
    mApp->books.push_back(book);
    mApp->active = book;
    return Workbook(book);
}

int Workbooks::count() const
{
    mApp->check();
    return static_cast<int>(mApp->books.size());
}

Workbook Workbooks::operator()(int index) const
{
    mApp->check();
    if (index < 1 || index > static_cast<int>(mApp->books.size()))
        throw ExcelError(QStringLiteral("Subscript out of range: there is no workbook %1 (%2 open)")
                             .arg(index)
                             .arg(mApp->books.size()));
    return Workbook(mApp->books[static_cast<std::size_t>(index - 1)]);
}

// ---------------------------------------------------------------- Application

Application::Application(const QString& version) : d(std::make_shared<AppState>())
{
    d->version = version;
}

Application::~Application()
{
    // Dropping the last reference ends the application the way Quit does.
    if (!d->quit)
        Quit();
}

corvantis::Workbooks Application::Workbooks() const
{
    d->check();
    return corvantis::Workbooks(d);
}

Workbook Application::ActiveWorkbook() const
{
    d->check();
    if (!d->active)
        throw ExcelError(QStringLiteral("No workbook is open"));
    return Workbook(d->active);
}

Worksheet Application::ActiveSheet() const { return ActiveWorkbook().ActiveSheet(); }
Worksheet Application::Worksheets(int index) const { return ActiveWorkbook().Worksheets(index); }
corvantis::Range Application::Range(const QString& address) const { return ActiveSheet().Range(address); }

bool Application::Visible() const
{
    d->check();
    return d->visible;
}

void Application::Visible(bool on)
{
    d->check();
    d->visible = on;   // the engine has no window; the flag is kept for callers that read it
}

bool Application::DisplayAlerts() const
{
    d->check();
    return d->displayAlerts;
}

void Application::DisplayAlerts(bool on)
{
    d->check();
    d->displayAlerts = on;
}

QString Application::Version() const
{
    d->check();
    return d->version;
}

void Application::Quit()
{
    d->check();
    for (const auto& b : d->books) {
        b->closed = true;
        b->wb = ss::Workbook();
    }
    d->books.clear();
    d->active.reset();
    d->quit = true;
}

bool Application::hasQuit() const { return d->quit; }

// ---------------------------------------------------------------- creation

std::shared_ptr<Application> CreateApplication()
{
    std::shared_ptr<Application> app = factory() ? factory()() : std::make_shared<Application>();
    if (!app)
        throw ExcelError(QStringLiteral("The spreadsheet application could not be created"));
    return app;
}

ApplicationFactory setApplicationFactory(ApplicationFactory next)
{
    ApplicationFactory previous = std::move(factory());
    factory() = std::move(next);
    return previous;
}

} // namespace corvantis
