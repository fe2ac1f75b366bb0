// Captions of the twelve fiscal months and the rounding the sheet's geometry uses.
#include "sheet/focusfollow.h"
#include "sheet/monthheaders.h"
#include "core/rounding.h"
#include "sheet/sampledata.h"

#include <QLocale>
#include <QTest>

using namespace corvantis;
using namespace corvantis::sheet;

class TestMonthHeaders : public QObject {
    Q_OBJECT

    static QStringList captions(const QDate& start)
    {
        QStringList out;
        for (int i = 0; i < 12; ++i)
            out << monthCaption(start, i);
        return out;
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QStringLiteral("en_US"))); }

    void monthEndsDoNotSkipAMonth()
    {
        QCOMPARE(captions(QDate(2025, 1, 31)),
                 (QStringList{"Jan-25", "Feb-25", "Mar-25", "Apr-25", "May-25", "Jun-25", "Jul-25", "Aug-25", "Sep-25",
                              "Oct-25", "Nov-25", "Dec-25"}));
    }

    void theYearCarriesOverDecember()
    {
        QCOMPARE(captions(QDate(2024, 12, 1)),
                 (QStringList{"Dec-24", "Jan-25", "Feb-25", "Mar-25", "Apr-25", "May-25", "Jun-25", "Jul-25", "Aug-25",
                              "Sep-25", "Oct-25", "Nov-25"}));
        QCOMPARE(captions(QDate(2024, 3, 15)).last(), QStringLiteral("Feb-25"));
        QCOMPARE(captions(QDate(1999, 6, 30))[6], QStringLiteral("Dec-99"));
        QCOMPARE(captions(QDate(1999, 6, 30))[7], QStringLiteral("Jan-00"));
    }

    void monthsPastTheLastDateHaveNoCaption()
    {
        const QStringList c = captions(QDate(9999, 3, 31));
        QCOMPARE(c[0], QStringLiteral("Mar-99"));
        QCOMPARE(c[9], QStringLiteral("Dec-99"));
        QCOMPARE(c[10], QString());
        QCOMPARE(c[11], QString());
        QCOMPARE(captions(QDate(9999, 12, 31)).count(QString()), 11);
    }

    void theCaptionsFollowTheUsersLocale()
    {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        const QString caption = monthCaption(QDate(2026, 5, 1), 0);
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        QCOMPARE(caption, QStringLiteral("Mai-26"));
    }

    void theSampleStartIsThreeMonthsBackOnTheFirst()
    {
        QCOMPARE(sampleStartDate(QDate(2026, 12, 17)), QDate(2026, 9, 1));
        QCOMPARE(sampleStartDate(QDate(2027, 2, 28)), QDate(2026, 11, 1));
        QCOMPARE(sampleStartDate(QDate(2027, 1, 31)), QDate(2026, 10, 1));   // January: previous year
        QCOMPARE(sampleStartDate(QDate(2026, 5, 31)), QDate(2026, 2, 1));
    }

    void roundingSendsHalvesToTheEvenNeighbour()
    {
        QCOMPARE(roundHalfEven(5501.25), 5501.0);
        QCOMPARE(roundHalfEven(1833.75), 1834.0);
        QCOMPARE(roundHalfEven(2.5), 2.0);
        QCOMPARE(roundHalfEven(3.5), 4.0);
        QCOMPARE(roundHalfEven(-2.5), -2.0);
        QCOMPARE(roundHalfEven(-3.5), -4.0);
        QCOMPARE(toInt16(32767.4), std::int16_t(32767));
        QVERIFY_THROWS_EXCEPTION(StepError, toInt16(32767.5));
        QVERIFY_THROWS_EXCEPTION(StepError, toInt16(-40000));
    }

    void focusFollowMovesByTheLeastAmount()
    {
        using Move = FocusFollow::Move;
        // all twips: viewport 7335, maximum 5340, cells 330 high, frame offset 105
        const int line16 = 105 + 7035, line32 = 105 + 12075, line0 = 105 + 1305;
        FocusFollow f = focusFollow(line16, 330, 0, 7335, 5340);
        QCOMPARE(f.move, Move::Down);
        QCOMPARE(f.value, line16 + 330 - 7335);   // 135: its bottom on the viewport's bottom
        QCOMPARE(focusFollow(line16, 330, f.value, 7335, 5340).move, Move::None);   // no creeping
        f = focusFollow(line32, 330, 0, 7335, 5340);
        QCOMPARE(f.value, 5175);   // 12510 - 7335, below the maximum: the whole cell shows
        f = focusFollow(line0, 330, 5340, 7335, 5340);
        QCOMPARE(f.move, Move::Up);
        QCOMPARE(f.value, line0);
        QCOMPARE(focusFollow(line0, 330, 0, 7335, 5340).move, Move::None);
        QCOMPARE(focusFollow(7005, 330, 0, 7335, 5340).move, Move::None);   // bottom exactly at the edge
        QCOMPARE(focusFollow(20000, 330, 0, 7335, 5340).value, 5340);       // never beyond the maximum
        QCOMPARE(focusFollow(-50, 330, 10, 7335, 5340).value, 0);           // never below 0
    }
};

QTEST_MAIN(TestMonthHeaders)
#include "test_monthheaders.moc"
