// The whole road a user takes: inputs typed into the main window, "Start Creating Template",
// the preview with zoom and panning, saving copies, "< Back", a second generation and the close
// of the preview. Real settings file, real scratch folder, real widgets and events; the generated
// workbook is read back by Gnumeric.
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "app/generationhost.h"
#include "preview/form2.h"
#include "preview/picturebox.h"
#include "preview/preview_support.h"
#include "sheet/inputsheet.h"
#include "sheet/sheetcell.h"
#include "core/files.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <optional>

using namespace corvantis;
using previewtest::HScroll1, previewtest::VScroll1, previewtest::Picture2, previewtest::Zoom_Ori;
using previewtest::PushButton1, previewtest::PushButton2, previewtest::PushButton6, previewtest::PushButton8;

namespace {

constexpr int kLines = 33;
const QDate kToday(2026, 3, 15);
// A start late in the year, so the month headers roll over the year end.
const QDate kFiscalStart(2025, 11, 15);

// Both folders are made before the application exists, so nothing can read the user's own.
QTemporaryDir* gConfigDir = nullptr;
QTemporaryDir* gScratchDir = nullptr;

using Amounts = std::array<std::array<double, 12>, kLines>;   // [line][month - 1]

// What the window shows, cell for cell.
struct Inputs {
    QString company;
    QDate start;
    std::array<std::array<QString, 14>, kLines> cells;   // [line][column]: name, IND. %, months 1-12
    bool operator==(const Inputs&) const = default;
};

// One worksheet as Gnumeric computes it, addressed like the spreadsheet (row and column from 1).
class Sheet {
public:
    // Empty when Gnumeric cannot read the file.
    static std::optional<Sheet> read(const QString& xls, bool recalc, QString* why)
    {
        QTemporaryDir out;
        const QString txt = out.filePath(QStringLiteral("sheet.txt"));
        QStringList args;
        if (recalc)
            args << QStringLiteral("--recalc");
        args << QStringLiteral("-T") << QStringLiteral("Gnumeric_stf:stf_assistant") << QStringLiteral("-O")
             << QStringLiteral("format=raw separator=; charset=UTF-8") << xls << txt;
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("ssconvert"), args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            *why = QStringLiteral("ssconvert failed: ") + QString::fromLocal8Bit(p.readAll());
            return std::nullopt;
        }
        QFile f(txt);
        if (!f.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("ssconvert wrote nothing");
            return std::nullopt;
        }
        Sheet s;
        s.rows_ = parse(QString::fromUtf8(f.readAll()));
        // The export starts at the first used cell; the section heading of B5 fixes the origin.
        for (int r = 0; r < int(s.rows_.size()); ++r)
            for (int c = 0; c < int(s.rows_[r].size()); ++c)
                if (s.rows_[r][c] == QLatin1String("Revenue (Sales)")) {
                    s.rowOffset_ = 5 - r;
                    s.colOffset_ = 2 - c;
                    return s;
                }
        *why = QStringLiteral("no \"Revenue (Sales)\" heading in the exported sheet");
        return std::nullopt;
    }

    QString text(int row, int col) const
    {
        const int r = row - rowOffset_, c = col - colOffset_;
        if (r < 0 || r >= int(rows_.size()) || c < 0 || c >= int(rows_[r].size()))
            return QString();
        return rows_[r][c];
    }
    std::optional<double> number(int row, int col) const
    {
        bool ok = false;
        const double v = text(row, col).toDouble(&ok);
        return ok ? std::optional<double>(v) : std::nullopt;
    }

private:
    static std::vector<QStringList> parse(const QString& all)
    {
        std::vector<QStringList> rows;
        QStringList row;
        QString field;
        bool quoted = false;
        for (qsizetype i = 0; i < all.size(); ++i) {
            const QChar ch = all[i];
            if (quoted) {
                if (ch == QLatin1Char('"')) {
                    if (i + 1 < all.size() && all[i + 1] == QLatin1Char('"')) {
                        field += ch;
                        ++i;
                    } else {
                        quoted = false;
                    }
                } else {
                    field += ch;
                }
            } else if (ch == QLatin1Char('"')) {
                quoted = true;
            } else if (ch == QLatin1Char(';')) {
                row << field;
                field.clear();
            } else if (ch == QLatin1Char('\n')) {
                row << field;
                field.clear();
                rows.push_back(row);
                row.clear();
            } else if (ch != QLatin1Char('\r')) {
                field += ch;
            }
        }
        if (!field.isEmpty() || !row.isEmpty()) {
            row << field;
            rows.push_back(row);
        }
        return rows;
    }

    std::vector<QStringList> rows_;
    int rowOffset_ = 0;
    int colOffset_ = 0;
};

int amountColumn(int month) { return 2 * month + 2; }   // D, F, ..., Z
constexpr int kYearly = 28;                             // AB

int rowOfLine(int line) { return line <= 6 ? line + 6 : line <= 13 ? line + 9 : line + 14; }

double serialToDays(const QDate& d) { return double(QDate(1899, 12, 30).daysTo(d)); }

// The amount a displayed currency text stands for ("$1,234.50", "($5.00)", "-$5.00", "").
double displayedAmount(const QString& text)
{
    QString t = text.trimmed();
    bool negative = false;
    if (t.startsWith(QLatin1Char('(')) && t.endsWith(QLatin1Char(')'))) {
        negative = true;
        t = t.mid(1, t.size() - 2);
    }
    if (t.startsWith(QLatin1Char('-'))) {
        negative = true;
        t = t.mid(1);
    }
    t.remove(QLatin1Char('$')).remove(QLatin1Char(','));
    if (t.isEmpty())
        return 0;
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok ? (negative ? -v : v) : std::nan("");
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool near(double a, double b) { return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(b)); }

} // namespace

class TestRoad : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> form1;
    std::unique_ptr<MainGenerationHost> host;
    std::vector<ErrorReport> reports;
    Amounts typed{};               // the amounts typed on the road, by line and month
    Inputs beforeGeneration;
    QString firstWorkbook;
    QString savedCopy;
    std::unique_ptr<QTemporaryDir> saveDir;

    Form2* form2() const { return host ? host->preview() : nullptr; }
    QString scratch() const { return gScratchDir->path(); }
    QStringList scratchFiles() const { return QDir(scratch()).entryList(QDir::Files | QDir::Hidden); }
    QStringList scratchWorkbooks() const
    {
        static const QRegularExpression name(QStringLiteral("^tolvek[1-9]{8}\\.xls$"));
        QStringList found;
        for (const QString& f : scratchFiles())
            if (name.match(f).hasMatch())
                found << f;
        return found;
    }
    QString reportList() const
    {
        QStringList s;
        for (const ErrorReport& r : reports)
            s << QStringLiteral("%1 at %2: %3").arg(r.location).arg(r.step).arg(r.description);
        return s.join(QStringLiteral("; "));
    }

    // A left click as the window system delivers it: through the window, at the widget's place.
    static void click(QWidget* w, QPoint at = QPoint(-1, -1))
    {
        if (at.x() < 0)
            at = w->rect().center();
        QWidget* top = w->window();
        QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, w->mapTo(top, at));
        QCoreApplication::processEvents();
    }

    // Types into a cell as a user does: click into it, select what is there, type, leave with Tab.
    void typeInto(QLineEdit* cell, const QString& text)
    {
        if (!cell->visibleRegion().isEmpty())
            click(cell);
        else
            QTest::mouseClick(cell, Qt::LeftButton);
        QCoreApplication::processEvents();
        QVERIFY2(cell->hasFocus(), qPrintable(cell->objectName()));
        QTest::keyClick(cell, Qt::Key_A, Qt::ControlModifier);
        for (const QChar ch : text) {
            // keyClicks takes ASCII only; other letters arrive as a key carrying just their text.
            if (ch.unicode() < 128)
                QTest::keyClick(cell, char(ch.unicode()));
            else
                QTest::sendKeyEvent(QTest::Click, cell, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        }
        QTest::keyClick(cell, Qt::Key_Tab);
        QCoreApplication::processEvents();
        QVERIFY2(!cell->hasFocus(), qPrintable(cell->objectName() + QStringLiteral(" kept the focus")));
    }
    void typeAmount(int line, int month, const QString& text, double value)
    {
        typeInto(form1->txtYear(month, line), text);
        typed[line][month - 1] = value;
    }

    Inputs currentInputs() const
    {
        Inputs in;
        in.company = form1->txtCompanyName()->text();
        in.start = form1->DTPicker1()->date();
        for (int line = 0; line < kLines; ++line)
            for (int col = 0; col < 14; ++col)
                in.cells[line][col] = form1->sheet().cell(line, col)->text();
        return in;
    }
    Amounts displayedAmounts() const
    {
        Amounts a{};
        for (int line = 0; line < kLines; ++line)
            for (int m = 1; m <= 12; ++m)
                a[line][m - 1] = displayedAmount(form1->txtYear(m, line)->text());
        return a;
    }

    // Every total, result and percentage of the projection for the given amounts.
    static QStringList projectionProblems(const Sheet& s, const Amounts& a, const QString& company, const QDate& start)
    {
        QStringList problems;
        auto fail = [&problems](const QString& what) { problems << what; };
        auto expectNumber = [&](int row, int col, double want, const char* what) {
            const std::optional<double> got = s.number(row, col);
            if (!got || !near(*got, want))
                fail(QStringLiteral("%1 at row %2, column %3: got \"%4\", expected %5")
                         .arg(QString::fromLatin1(what)).arg(row).arg(col).arg(s.text(row, col)).arg(want, 0, 'g', 12));
        };
        // A percentage: "-" when the divisor is 0.
        auto expectShare = [&](int row, int col, double part, double whole, const char* what) {
            if (whole == 0) {
                if (s.text(row, col) != QLatin1String("-"))
                    fail(QStringLiteral("%1 at row %2, column %3: got \"%4\", expected \"-\"")
                             .arg(QString::fromLatin1(what)).arg(row).arg(col).arg(s.text(row, col)));
            } else {
                expectNumber(row, col, part * 100 / whole, what);
            }
        };

        if (s.text(2, 11) != company)
            fail(QStringLiteral("K2 is \"%1\", expected \"%2\"").arg(s.text(2, 11), company));
        expectNumber(4, 4, serialToDays(start), "D4, month 1");
        for (int m = 2; m <= 12; ++m) {
            const QDate first = QDate(start.year(), start.month(), 1).addMonths(m - 1);
            expectNumber(4, amountColumn(m), serialToDays(first), "month header");
        }

        // Column sums: 12 months and the year.
        for (int m = 1; m <= 13; ++m) {
            const int col = m <= 12 ? amountColumn(m) : kYearly;
            auto amount = [&](int line) {
                if (m <= 12)
                    return a[line][m - 1];
                double year = 0;
                for (int k = 0; k < 12; ++k)
                    year += a[line][k];
                return year;
            };
            double revenue = 0, cost = 0, expenses = 0;
            for (int line = 0; line <= 6; ++line)
                revenue += amount(line);
            for (int line = 7; line <= 13; ++line)
                cost += amount(line);
            for (int line = 14; line < kLines; ++line)
                expenses += amount(line);

            double revenueShares = 0;
            for (int line = 0; line < kLines; ++line) {
                const int row = rowOfLine(line);
                expectNumber(row, col, amount(line), "input amount");
                if (line <= 6) {
                    expectShare(row, col + 1, amount(line), revenue, "revenue share");
                    if (revenue != 0)
                        revenueShares += amount(line) * 100 / revenue;
                } else if (line <= 13) {
                    // A cost line is measured against the revenue line of its own category.
                    expectShare(row, col + 1, amount(line), amount(line - 7), "cost share of its category");
                } else {
                    expectShare(row, col + 1, amount(line), revenue, "expense share");
                }
            }
            expectNumber(13, col, revenue, "total revenue");
            expectNumber(13, col + 1, revenueShares, "total revenue share");
            expectNumber(23, col, cost, "total cost of sales");
            expectShare(23, col + 1, cost, revenue, "cost of sales share");
            expectNumber(25, col, revenue - cost, "gross profit");
            expectShare(25, col + 1, revenue - cost, revenue, "gross profit share");
            expectNumber(47, col, expenses, "total expenses");
            expectShare(47, col + 1, expenses, revenue, "expenses share");
            expectNumber(49, col, revenue - cost - expenses, "net profit");
            expectShare(49, col + 1, revenue - cost - expenses, revenue, "net profit share");
        }
        return problems;
    }

    // The generated workbook, both as stored and as Gnumeric computes it afresh.
    void checkWorkbook(const QString& path, const Amounts& a, const QString& company, const QDate& start)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("ssconvert")).isEmpty())
            QSKIP("ssconvert (Gnumeric) is not installed");
        for (bool recalc : {false, true}) {
            QString why;
            const std::optional<Sheet> s = Sheet::read(path, recalc, &why);
            QVERIFY2(s, qPrintable(why));
            const QStringList problems = projectionProblems(*s, a, company, start);
            QVERIFY2(problems.isEmpty(),
                     qPrintable(QStringLiteral("%1: %2 wrong cells, first: %3")
                                    .arg(recalc ? QStringLiteral("recalculated") : QStringLiteral("as stored"))
                                    .arg(problems.size())
                                    .arg(problems.mid(0, 5).join(QStringLiteral("; ")))));
        }
    }

    void checkPictureWithinLimits(const char* when, int slackTwips)
    {
        Form2* f = form2();
        const int left = f->Picture1()->left(), top = f->Picture1()->top();
        const int minLeft = std::min(0, Picture2(*f)->innerWidth() - f->Picture1()->outerWidth());
        const int minTop = std::min(0, Picture2(*f)->innerHeight() - f->Picture1()->outerHeight());
        QVERIFY2(left <= 0 && left >= minLeft - slackTwips && top <= 0 && top >= minTop - slackTwips,
                 qPrintable(QStringLiteral("%1: picture at %2,%3 twips, limits %4..0, %5..0")
                                .arg(QString::fromLatin1(when)).arg(left).arg(top).arg(minLeft).arg(minTop)));
    }

    const Dialogs::Shown* lastBox() const { return Dialogs::shown().empty() ? nullptr : &Dialogs::shown().back(); }

private slots:
    void initTestCase()
    {
        QApplication::setOrganizationName(QStringLiteral("Kestrelon"));
        QApplication::setApplicationName(QStringLiteral("Corvantis"));
        // As in the program: only the close of a window that ends the run may end it.
        qApp->setQuitOnLastWindowClosed(false);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        Dialogs::setScripted(true);
        setErrorReportSink([this](const ErrorReport& r) { reports.push_back(r); });
        QCOMPARE(ScratchFolder(), scratch());

        Form1::Services services;
        services.today = [] { return kToday; };
        services.excelProbe = [] {};
        form1 = std::make_unique<Form1>(services);
        host = std::make_unique<MainGenerationHost>(*form1);
        form1->Form_Load();
        form1->show();
        QVERIFY(QTest::qWaitForWindowActive(form1.get()));
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        QVERIFY(!form2());
    }
    void cleanupTestCase()
    {
        host.reset();
        form1.reset();
        setErrorReportSink({});
    }

    // ---- the main window ----

    void typedInputsAreReformattedAndStored()
    {
        // An empty store: every amount starts at nothing.
        for (int line = 0; line < kLines; ++line)
            for (int m = 1; m <= 12; ++m)
                QCOMPARE(displayedAmount(form1->txtYear(m, line)->text()), 0.0);

        typeInto(form1->txtCompanyName(), QStringLiteral("Brûlée & Sons, Ltd"));
        form1->DTPicker1()->setFocus(Qt::MouseFocusReason);
        form1->DTPicker1()->setDate(kFiscalStart);
        QCOMPARE(form1->lblYear(0)->text(), QStringLiteral("Nov-25"));
        QCOMPARE(form1->lblYear(2)->text(), QStringLiteral("Jan-26"));

        typeInto(form1->txtRevenue(0), QStringLiteral("Consulting"));
        typeInto(form1->txtInd(0), QStringLiteral("40"));
        typeAmount(0, 1, QStringLiteral("1200"), 1200);
        typeAmount(0, 2, QStringLiteral("1350.5"), 1350.5);
        typeAmount(0, 3, QStringLiteral("980"), 980);
        typeAmount(0, 12, QStringLiteral("2,000"), 2000);
        typeAmount(3, 1, QStringLiteral("300"), 300);
        // Cost of category 1, and of category 2 which has no revenue at all.
        typeAmount(7, 1, QStringLiteral("480"), 480);
        typeAmount(7, 2, QStringLiteral("540.2"), 540.2);
        typeAmount(7, 12, QStringLiteral("900"), 900);
        typeAmount(8, 1, QStringLiteral("75"), 75);
        // Salaries in the first quarter and the last expense line in the last month.
        typeAmount(14, 1, QStringLiteral("250"), 250);
        typeAmount(14, 2, QStringLiteral("250"), 250);
        typeAmount(14, 3, QStringLiteral("250"), 250);
        typeAmount(32, 12, QStringLiteral("99.99"), 99.99);

        QCOMPARE(form1->txtYear(1, 0)->text(), QStringLiteral("$1,200.00"));
        QCOMPARE(form1->txtYear(2, 0)->text(), QStringLiteral("$1,350.50"));
        QCOMPARE(form1->txtYear(12, 0)->text(), QStringLiteral("$2,000.00"));
        QCOMPARE(form1->txtYear(12, 32)->text(), QStringLiteral("$99.99"));
        QCOMPARE(form1->txtRevenue(0)->text(), QStringLiteral("Consulting"));
        // What the window shows is what was typed, amount for amount.
        const Amounts shown = displayedAmounts();
        for (int line = 0; line < kLines; ++line)
            for (int m = 0; m < 12; ++m)
                QVERIFY2(near(shown[line][m], typed[line][m]), qPrintable(QStringLiteral("line %1 month %2").arg(line).arg(m + 1)));

        // Each input reached the real settings file at once.
        QSettings file(QDir(gConfigDir->path()).filePath(QStringLiteral("Kestrelon/Corvantis.ini")), QSettings::IniFormat);
        file.beginGroup(QStringLiteral("Corvantis"));
        QCOMPARE(file.value(QStringLiteral("txtCompanyName")).toString(), QStringLiteral("Brûlée & Sons, Ltd"));
        QCOMPARE(file.value(QStringLiteral("txtRevenue0")).toString(), QStringLiteral("Consulting"));
        QCOMPARE(file.value(QStringLiteral("txtYear20")).toString(), QStringLiteral("$1,350.50"));
        QVERIFY2(reports.empty(), qPrintable(reportList()));
    }

    // ---- generation ----

    void startCreatingTemplateShowsThePreview()
    {
        beforeGeneration = currentInputs();
        click(form1->PushButton22());
        QVERIFY2(reports.empty(), qPrintable(reportList()));

        QVERIFY(form2());
        QVERIFY(form1->isHidden());
        QVERIFY(form2()->isVisible());
        QCOMPARE(form2()->windowTitle(), QStringLiteral("Corvantis"));
        // The snapshot is kept unscaled in Zoom_Ori and painted, unscaled, into Picture1.
        const QPixmap& snapshot = Zoom_Ori(*form2())->picture();
        QVERIFY(!snapshot.isNull());
        QVERIFY2(snapshot.width() > 600 && snapshot.height() > 400,
                 qPrintable(QStringLiteral("snapshot of %1 x %2").arg(snapshot.width()).arg(snapshot.height())));
        QCOMPARE(form2()->view().zoom(), 1.0f);
        QVERIFY(!form2()->Picture1()->drawnOutput().isNull());
        QCOMPARE(form2()->Picture1()->outerWidth(), form2()->view().zoomWidth());
        QCOMPARE(form2()->Picture1()->outerHeight(), form2()->view().zoomHeight());

        const QStringList books = scratchWorkbooks();
        QCOMPARE(books.size(), 1);
        QCOMPARE(scratchFiles(), books);   // neither temp.bmp nor template.xlt stays behind
        firstWorkbook = QDir(scratch()).filePath(books.first());
        QCOMPARE(QFileInfo(form2()->excelFile()).canonicalFilePath(), QFileInfo(firstWorkbook).canonicalFilePath());
        // Generation leaves the inputs alone.
        QVERIFY(currentInputs() == beforeGeneration);
    }

    void generatedWorkbookHoldsTheProjection()
    {
        QVERIFY(QFileInfo::exists(firstWorkbook));
        checkWorkbook(firstWorkbook, typed, QStringLiteral("Brûlée & Sons, Ltd"), kFiscalStart);
    }

    // ---- the preview ----

    void zoomStopsAtItsLimits()
    {
        Form2* f = form2();
        QVERIFY(f);
        const int baseWidth = f->view().baseWidth();
        // One step larger: the whole projection fits the picture budget up to twice its size.
        auto largerZoom = [&](float z) { return std::min(2.0f, z + 0.25f); };
        auto checkPainted = [&](float z) {
            QCOMPARE(f->view().zoom(), z);
            QCOMPARE(f->view().zoomWidth(), int(std::floor(baseWidth * double(z))));
            QCOMPARE(f->Picture1()->outerWidth(), f->view().zoomWidth());
            QCOMPARE(f->Picture1()->outerHeight(), f->view().zoomHeight());
            // The zoom keeps the view's centre; the bars show where the picture is.
            checkPictureWithinLimits("zoomed", 15);
            QCOMPARE(f->Picture1()->left(), -f->view().hStep() * HScroll1(*f)->value());
            QCOMPARE(f->Picture1()->top(), -f->view().vStep() * VScroll1(*f)->value());
        };

        float expected = 1.0f;
        for (int i = 0; i < 8; ++i) {
            click(PushButton1(*f));
            expected = largerZoom(expected);
            QCOMPARE(f->view().zoom(), expected);
            QVERIFY(f->view().zoom() <= 2.0f);
        }
        checkPainted(2.0f);

        for (int i = 0; i < 12; ++i) {
            click(PushButton2(*f));
            expected = std::max(0.25f, expected - 0.25f);
            QCOMPARE(f->view().zoom(), expected);
        }
        checkPainted(0.25f);
        QVERIFY(f->Picture1()->outerWidth() < Picture2(*f)->innerWidth());

        // Up again to twice the size.
        while (largerZoom(f->view().zoom()) > f->view().zoom()) {
            click(PushButton1(*f));
            checkPainted(expected = largerZoom(expected));
        }
        QCOMPARE(f->view().zoom(), 2.0f);
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        QVERIFY(Dialogs::shown().empty());
    }

    // The stop at 2.0 itself, with a snapshot small enough to be painted twice its size.
    void zoomInStopsAtTwiceTheSize()
    {
        Form2 small;
        small.setPicture(QPixmap(300, 200));
        small.show();
        QVERIFY(QTest::qWaitForWindowExposed(&small));
        for (int i = 0; i < 8; ++i)
            click(PushButton1(small));
        QCOMPARE(small.view().zoom(), 2.0f);
        QCOMPARE(small.Picture1()->outerWidth(), int(std::floor(small.view().baseWidth() * 2.0)));
        for (int i = 0; i < 8; ++i)
            click(PushButton2(small));
        QCOMPARE(small.view().zoom(), 0.25f);
        small.hide();
        QVERIFY2(reports.empty(), qPrintable(reportList()));
    }

    void dragKeepsThePictureWithinItsLimits()
    {
        Form2* f = form2();
        QVERIFY(f);
        QVERIFY2(f->Picture1()->outerWidth() > Picture2(*f)->innerWidth() && f->Picture1()->outerHeight() > Picture2(*f)->innerHeight(),
                 "the picture should exceed the viewport both ways");
        QWindow* window = f->windowHandle();
        auto inWindow = [&](QPoint viewportPoint) { return Picture2(*f)->mapTo(f, viewportPoint); };
        const QRect viewport = Picture2(*f)->rect().adjusted(10, 10, -10, -10);
        const int minLeft = Picture2(*f)->innerWidth() - f->Picture1()->outerWidth();
        const int minTop = Picture2(*f)->innerHeight() - f->Picture1()->outerHeight();

        // Drags from the bottom-right to the top-left of the viewport, again and again, until the
        // picture can go no further: it stops with its far corner at the viewport's.
        for (int drag = 0; drag < 6; ++drag) {
            QTest::mousePress(window, Qt::LeftButton, {}, inWindow(viewport.bottomRight()));
            for (int step = 1; step <= 4; ++step) {
                QTest::mouseMove(window, inWindow(viewport.bottomRight() - (viewport.bottomRight() - viewport.topLeft()) * step / 4));
                checkPictureWithinLimits("dragging up and left", 0);
            }
            if (drag == 0)
                QVERIFY2(f->Picture1()->left() < 0 && f->Picture1()->top() < 0, "the drag did not move the picture");
            if (drag == 5) {
                QCOMPARE(f->Picture1()->left(), minLeft);
                QCOMPARE(f->Picture1()->top(), minTop);
            }
            QTest::mouseRelease(window, Qt::LeftButton, {}, inWindow(viewport.topLeft()));
            QCoreApplication::processEvents();
            // On release the picture settles on the scroll bars' whole-unit position.
            checkPictureWithinLimits("released", 15);
        }
        // (At the far edge the percentage comes out above 100, so the bars may keep their values.)

        // And back past the top-left corner: it stops at 0, 0 and the bars follow.
        for (int drag = 0; drag < 6; ++drag) {
            QTest::mousePress(window, Qt::LeftButton, {}, inWindow(viewport.topLeft()));
            for (int step = 1; step <= 4; ++step) {
                QTest::mouseMove(window, inWindow(viewport.topLeft() + (viewport.bottomRight() - viewport.topLeft()) * step / 4));
                checkPictureWithinLimits("dragging down and right", 0);
            }
            QTest::mouseRelease(window, Qt::LeftButton, {}, inWindow(viewport.bottomRight()));
            QCoreApplication::processEvents();
            checkPictureWithinLimits("released", 15);
        }
        QCOMPARE(f->Picture1()->left(), 0);
        QCOMPARE(f->Picture1()->top(), 0);
        QCOMPARE(HScroll1(*f)->value(), 0);
        QCOMPARE(VScroll1(*f)->value(), 0);
        QVERIFY2(reports.empty(), qPrintable(reportList()));
    }

    // ---- saving ----

    void saveToANewNameCopiesTheWorkbook()
    {
        Form2* f = form2();
        saveDir = std::make_unique<QTemporaryDir>();
        savedCopy = saveDir->filePath(QStringLiteral("projection 2026.xls"));
        Dialogs::reset();
        Dialogs::queueFileName(savedCopy);
        click(PushButton6(*f));
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        QCOMPARE(Dialogs::saveRequests().size(), size_t(1));
        QCOMPARE(Dialogs::saveRequests()[0].title, QStringLiteral("Save File"));
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        QCOMPARE(lastBox()->text, QStringLiteral("Done."));
        QCOMPARE(fileBytes(savedCopy), fileBytes(firstWorkbook));
        QVERIFY(!fileBytes(savedCopy).isEmpty());
        // The scratch workbook stays, and no half-written file is left beside the copy.
        QVERIFY(QFileInfo::exists(firstWorkbook));
        QCOMPARE(QDir(saveDir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("projection 2026.xls")});

        // A name typed without an extension gets ".xls".
        Dialogs::reset();
        Dialogs::queueFileName(saveDir->filePath(QStringLiteral("plain")));
        click(PushButton6(*f));
        QCOMPARE(lastBox()->text, QStringLiteral("Done."));
        QCOMPARE(fileBytes(saveDir->filePath(QStringLiteral("plain.xls"))), fileBytes(firstWorkbook));
        QVERIFY(!QFileInfo::exists(saveDir->filePath(QStringLiteral("plain"))));
    }

    void saveOverAnExistingFileAsksFirst()
    {
        Form2* f = form2();
        const QByteArray marker("not a workbook, the user's own file");
        QVERIFY(writeFile(savedCopy, marker));

        // No: the file is left exactly as it was.
        Dialogs::reset();
        Dialogs::queueFileName(savedCopy);
        Dialogs::queueAnswer(Dialogs::Answer::No);
        click(PushButton6(*f));
        QCOMPARE(Dialogs::shown().size(), size_t(2));
        QCOMPARE(Dialogs::shown()[0].text, QStringLiteral("Are you sure you wish to overwrite ") + savedCopy + QStringLiteral(" ?"));
        QCOMPARE(Dialogs::shown()[0].buttons, Dialogs::Buttons::YesNo);
        QCOMPARE(Dialogs::shown()[1].text, QStringLiteral("Done."));
        QCOMPARE(fileBytes(savedCopy), marker);

        // Yes: replaced by the workbook.
        Dialogs::reset();
        Dialogs::queueFileName(savedCopy);
        Dialogs::queueAnswer(Dialogs::Answer::Yes);
        click(PushButton6(*f));
        QCOMPARE(Dialogs::shown().size(), size_t(2));
        QCOMPARE(Dialogs::shown()[0].buttons, Dialogs::Buttons::YesNo);
        QCOMPARE(Dialogs::shown()[1].text, QStringLiteral("Done."));
        QCOMPARE(fileBytes(savedCopy), fileBytes(firstWorkbook));
        QVERIFY2(reports.empty(), qPrintable(reportList()));
    }

    void cancelledOrRefusedSavesWriteNothing()
    {
        Form2* f = form2();
        const QStringList before = QDir(saveDir->path()).entryList(QDir::Files | QDir::Hidden);
        const QByteArray workbook = fileBytes(firstWorkbook);

        // Cancel: "Done." and nothing else.
        Dialogs::reset();
        click(PushButton6(*f));
        QCOMPARE(Dialogs::saveRequests().size(), size_t(1));
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        QCOMPARE(lastBox()->text, QStringLiteral("Done."));
        QCOMPARE(QDir(saveDir->path()).entryList(QDir::Files | QDir::Hidden), before);

        // The working copy itself is refused, and survives.
        Dialogs::reset();
        Dialogs::queueFileName(firstWorkbook);
        Dialogs::queueAnswer(Dialogs::Answer::Yes);
        click(PushButton6(*f));
        QCOMPARE(fileBytes(firstWorkbook), workbook);
        QVERIFY(!Dialogs::shown().empty());
        QVERIFY(lastBox()->text != QLatin1String("Done."));

        // A folder that does not exist: said plainly, without "Done." and without a fault report.
        Dialogs::reset();
        Dialogs::queueFileName(saveDir->filePath(QStringLiteral("missing/folder/x.xls")));
        click(PushButton6(*f));
        QVERIFY(reports.empty());
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        QVERIFY(lastBox()->text.contains(QLatin1String("x.xls")));
        QVERIFY(f->isVisible());
        QCOMPARE(QDir(saveDir->path()).entryList(QDir::Files | QDir::Hidden), before);
        QCOMPARE(scratchWorkbooks().size(), 1);
    }

    // ---- back and again ----

    void backReturnsToUnchangedInputs()
    {
        Form2* f = form2();
        for (int i = 0; i < 12; ++i)
            click(PushButton2(*f));
        QCOMPARE(f->view().zoom(), 0.25f);

        click(PushButton8(*f));
        QVERIFY(!QFileInfo::exists(firstWorkbook));
        QVERIFY(scratchFiles().isEmpty());
        QVERIFY(f->isHidden());
        QVERIFY(form1->isVisible());
        QVERIFY(currentInputs() == beforeGeneration);
        QVERIFY2(reports.empty(), qPrintable(reportList()));
    }

    void secondGenerationUsesANewWorkbook()
    {
        QVERIFY(QTest::qWaitForWindowActive(form1.get()));
        Form2* f = form2();
        const QSize firstSnapshot = f->Picture1()->picture().size();
        click(form1->PushButton22());
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        QCOMPARE(form2(), f);   // the same preview window, shown again
        QVERIFY(form1->isHidden());
        QVERIFY(f->isVisible());

        const QStringList books = scratchWorkbooks();
        QCOMPARE(books.size(), 1);
        QCOMPARE(scratchFiles(), books);
        const QString second = QDir(scratch()).filePath(books.first());
        QVERIFY(QFileInfo(second).fileName() != QFileInfo(firstWorkbook).fileName());
        QCOMPARE(QFileInfo(f->excelFile()).canonicalFilePath(), QFileInfo(second).canonicalFilePath());

        // The new snapshot is set up afresh: unscaled and homed, whatever the last zoom was.
        QCOMPARE(f->view().zoom(), 1.0f);
        QCOMPARE(f->Picture1()->picture().size(), firstSnapshot);
        QCOMPARE(f->Picture1()->left(), 0);
        QCOMPARE(HScroll1(*f)->value(), 0);
        click(PushButton2(*f));
        QCOMPARE(f->view().zoom(), 0.75f);
        checkWorkbook(second, typed, QStringLiteral("Brûlée & Sons, Ltd"), kFiscalStart);
    }

    void sampleDataGoesIntoTheWorkbook()
    {
        click(PushButton8(*form2()));
        QVERIFY(scratchFiles().isEmpty());
        QVERIFY(form1->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(form1.get()));

        click(form1->PushButton7());
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        const Inputs sample = currentInputs();
        QVERIFY(sample.company != beforeGeneration.company);
        const Amounts shown = displayedAmounts();
        int filled = 0;
        for (const auto& line : shown)
            for (double v : line) {
                QVERIFY(!std::isnan(v));
                filled += v != 0 ? 1 : 0;
            }
        QVERIFY(filled > 5);

        click(form1->PushButton22());
        QVERIFY2(reports.empty(), qPrintable(reportList()));
        QVERIFY(form2()->isVisible());
        QCOMPARE(scratchWorkbooks().size(), 1);
        checkWorkbook(QDir(scratch()).filePath(scratchWorkbooks().first()), shown, sample.company, sample.start);
    }

    // ---- the end ----

    void closingThePreviewEndsTheProgram()
    {
        Form2* f = form2();
        QVERIFY(f && f->isVisible());
        const QString workbook = f->excelFile();
        QVERIFY(QFileInfo::exists(workbook));

        QSignalSpy quitting(qApp, &QCoreApplication::aboutToQuit);
        // The close arrives from a running program's event loop; a program that does not end
        // is stopped after a while with another exit code.
        QTimer::singleShot(0, f, [f] { f->close(); });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
        guard.start(5000);
        const int rc = QApplication::exec();
        guard.stop();
        QCOMPARE(rc, 0);
        QCOMPARE(quitting.size(), 1);
        QVERIFY(!QFileInfo::exists(workbook));
        QVERIFY(scratchFiles().isEmpty());
        QVERIFY(!f->isVisible());
        QVERIFY2(reports.empty(), qPrintable(reportList()));
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir config, scratchDir;
    if (!config.isValid() || !scratchDir.isValid())
        return 2;
    gConfigDir = &config;
    gScratchDir = &scratchDir;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("TEMP", scratchDir.path().toLocal8Bit());
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestRoad test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_road.moc"
