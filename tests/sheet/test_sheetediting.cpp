// The models behind data entry across the sheet, without windows: the history of steps, the
// reading and placing of pasted blocks, and the arithmetic of filling a line.
#include "core/numbertext.h"
#include "sheet/linefill.h"
#include "sheet/pastetext.h"
#include "sheet/sheethistory.h"

#include <QLocale>
#include <QTest>

#include <map>
#include <numeric>

using namespace corvantis;
using namespace corvantis::sheet;

class TestSheetEditing : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QStringLiteral("en_US"))); }

    void historyUndoesAndRedoesWholeStepsThroughTheWriter()
    {
        std::map<std::pair<int, int>, QString> cells;
        int frames = 0;
        SheetHistory h([&](const InputSpot& s, const QString& t) { cells[{s.line, s.column}] = t; },
                       [&](const std::function<void()>& run) { ++frames; run(); });
        // Recording does not write: the change was made before.
        QVERIFY(h.record(QStringLiteral("Typing"), {{{0, 2}, QStringLiteral("$500.00"), QStringLiteral("$0.00")}}));
        QVERIFY(cells.empty());
        // A change to the same text is no step at all.
        QVERIFY(!h.record(QStringLiteral("Typing"), {{{0, 3}, QStringLiteral("x"), QStringLiteral("x")}}));
        // One input changed twice in a step ends at its first text on undo.
        QVERIFY(h.record(QStringLiteral("Paste"), {{{1, 2}, QStringLiteral("a"), QStringLiteral("b")},
                                                   {InputSpot::fiscalStart(), QStringLiteral("2026-01-01"),
                                                    QStringLiteral("2026-02-01")},
                                                   {{1, 2}, QStringLiteral("b"), QStringLiteral("c")}}));
        QCOMPARE(h.count(), 2);
        h.undo();
        QCOMPARE(frames, 1);   // a whole step in one frame: one store write
        QCOMPARE((cells[{1, 2}]), QStringLiteral("a"));
        QCOMPARE((cells[{-1, 1}]), QStringLiteral("2026-01-01"));
        h.undo();
        QCOMPARE((cells[{0, 2}]), QStringLiteral("$500.00"));
        QVERIFY(!h.canUndo());
        h.undo();   // nothing left: nothing happens
        QCOMPARE(frames, 2);
        h.redo();
        h.redo();
        QCOMPARE((cells[{0, 2}]), QStringLiteral("$0.00"));
        QCOMPARE((cells[{1, 2}]), QStringLiteral("c"));
        QVERIFY(!h.canRedo());
        // A new step after an undo drops what could have been redone.
        h.undo();
        h.record(QStringLiteral("Typing"), {{{5, 0}, QStringLiteral("Rent"), QStringLiteral("Lease")}});
        QVERIFY(!h.canRedo());
        QCOMPARE(h.undoText(), QStringLiteral("Typing"));
    }

    void clipboardBlocksAreReadAsSpreadsheetsWriteThem()
    {
        // A row as a spreadsheet copies it: tabs, a closing line break that is no empty row.
        auto rows = splitClipboardRows(QStringLiteral("100\t200\t300\n"));
        QCOMPARE(rows.size(), size_t(1));
        QCOMPARE(rows[0], (QStringList{"100", "200", "300"}));
        // Two rows with Windows line breaks, an empty cell, a quoted cell with a tab and a quote.
        rows = splitClipboardRows(QStringLiteral("a\t\"x\ty \"\"q\"\"\"\r\n\t5\r\n"));
        QCOMPARE(rows.size(), size_t(2));
        QCOMPARE(rows[0], (QStringList{"a", "x\ty \"q\""}));
        QCOMPARE(rows[1], (QStringList{"", "5"}));
        QVERIFY(isSingleValue(splitClipboardRows(QStringLiteral("1250\n"))));
        QVERIFY(!isSingleValue(splitClipboardRows(QStringLiteral("1\n2\n"))));
        QVERIFY(!isSingleValue(splitClipboardRows(QStringLiteral("1\t2"))));
    }

    void pastedBlocksRunRightAndDownAndCountWhatFallsOutside()
    {
        std::vector<QStringList> rows(2, QStringList{"1", "2", "3", "4"});
        // From month 11 of line 31: two values per row fit, the next two fall off the right edge.
        PastePlacement p = placeRows(rows, 31, monthColumn(11));
        QCOMPARE(p.targets.size(), size_t(4));
        QCOMPARE(p.outside, 4);
        QCOMPARE(p.targets[2].line, 32);
        QCOMPARE(p.targets[2].column, monthColumn(11));
        // From the last line, the second row falls below the sheet.
        p = placeRows(rows, 32, kNameColumn);
        QCOMPARE(p.targets.size(), size_t(4));
        QCOMPARE(p.outside, 4);
        // A line pasted into line 6's name crosses into the next section with the next row.
        p = placeRows(rows, 6, kNameColumn);
        QCOMPARE(p.targets[4].line, 7);
        QCOMPARE(p.targets[4].column, kNameColumn);
    }

    void aLineIsCopiedAsPlainNumbersOfTheLocale()
    {
        QStringList amounts;
        for (int m = 1; m <= 12; ++m)
            amounts << FormatAmount(m * 1000 + 0.5, 2);
        amounts[11] = FormatAmount(-1250.5, 2);
        const QString row = lineAsRow(QStringLiteral("Rent\tand rates"), QStringLiteral("7.5"), amounts);
        QCOMPARE(row.count(QLatin1Char('\t')), 13);
        QVERIFY(row.startsWith(QStringLiteral("Rent and rates\t7.5\t1000.50\t2000.50\t")));
        QVERIFY(row.endsWith(QStringLiteral("\t-1250.50\n")));

        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        const QString german = plainAmountText(FormatAmount(QStringLiteral("1234,5"), 2));
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        QCOMPARE(german, QStringLiteral("1234,50"));
    }

    void aSpreadTotalAddsUpExactlyAndTheLastMonthTakesTheRest()
    {
        for (long long total : {100000LL, 100001LL, 99999LL, 11LL, -100007LL, 0LL, 123456789012LL}) {
            const std::vector<long long> months = spreadOverMonths(total);
            QCOMPARE(months.size(), size_t(12));
            QCOMPARE(std::accumulate(months.begin(), months.end(), 0LL), total);
            for (int i = 1; i < 11; ++i)
                QCOMPARE(months[size_t(i)], months[0]);
        }
        // $1,000.01: eleven months of $83.33 and $83.38.
        QCOMPARE(spreadOverMonths(100001).back(), 8338LL);
        QCOMPARE(amountCents(QStringLiteral("$1,000.005")), std::optional<long long>(100001));
        QCOMPARE(amountCents(QStringLiteral("-$2.50")), std::optional<long long>(-250));
        QVERIFY(!amountCents(QStringLiteral("5OO")));
        QCOMPARE(centsAsTypedText(-5), QStringLiteral("-0.05"));
    }

    void growthCompoundsOnTheRoundedAmounts()
    {
        const std::vector<long long> g = growByPercent(10000, 10, 4);
        QCOMPARE(g, (std::vector<long long>{10000, 11000, 12100, 13310}));
        // $1.05 growing 10 %: 1.155 rounds half away from zero to 1.16, then 1.276 to 1.28.
        QCOMPARE(growByPercent(105, 10, 3), (std::vector<long long>{105, 116, 128}));
        QCOMPARE(growByPercent(-105, 10, 2), (std::vector<long long>{-105, -116}));
    }
};

QTEST_GUILESS_MAIN(TestSheetEditing)
#include "test_sheetediting.moc"
