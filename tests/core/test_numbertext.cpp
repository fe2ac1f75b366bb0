// Number text: the decimal mark, the numeric test, cleaning and the currency form, under the
// locales the program meets (injected as the default locale).
#include "core/errorreport.h"
#include "core/guard.h"
#include "core/numbertext.h"

#include <QLocale>
#include <QTest>

using namespace corvantis;

class TestNumberText : public QObject {
    Q_OBJECT

    std::vector<ErrorReport> reports;

private slots:
    void init()
    {
        reports.clear();
        setErrorReportSink([this](const ErrorReport& r) { reports.push_back(r); });
    }
    void cleanup()
    {
        setErrorReportSink({});
        QLocale::setDefault(QLocale(QLocale::C));
    }

    void decimalSeparatorFollowsTheLocale()
    {
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        QCOMPARE(DecimalSeparator(), QStringLiteral("."));
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        QCOMPARE(DecimalSeparator(), QStringLiteral(","));
    }

    void normalizeDecimalTurnsBothMarksIntoTheLocales()
    {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        QCOMPARE(NormalizeDecimal(QStringLiteral("16.0")), QStringLiteral("16,0"));
        QCOMPARE(NormalizeDecimal(QStringLiteral("1.2,3")), QStringLiteral("1,2,3"));
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        QCOMPARE(NormalizeDecimal(QStringLiteral("1.2,3")), QStringLiteral("1.2.3"));
    }

    void numericTest_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("numeric");
        const QString us = QStringLiteral("en_US"), de = QStringLiteral("de_DE");
        QTest::newRow("us plain") << us << "1250" << true;
        QTest::newRow("us decimals") << us << "7.5" << true;
        QTest::newRow("us blanks around") << us << "  12 " << true;
        QTest::newRow("us negative") << us << "-5" << true;
        QTest::newRow("us grouped currency") << us << "$1,250.00" << true;
        QTest::newRow("us minus before symbol") << us << "-$5.00" << true;
        QTest::newRow("us accounting negative") << us << "($5.00)" << true;
        QTest::newRow("us empty") << us << "" << false;
        QTest::newRow("us blanks") << us << "   " << false;
        QTest::newRow("us word") << us << "abc" << false;
        QTest::newRow("us two marks") << us << "1.2.3" << false;
        QTest::newRow("us other currency") << us << "5,00 €" << false;
        QTest::newRow("us symbol only") << us << "$" << false;
        QTest::newRow("us two signs") << us << "--5" << false;
        QTest::newRow("us infinity") << us << "inf" << false;
        QTest::newRow("de comma") << de << "7,5" << true;
        QTest::newRow("de grouped") << de << "1.234,5" << true;
        QTest::newRow("de currency") << de << "1.234,50 €" << true;
        QTest::newRow("de negative currency") << de << "-5,00 €" << true;
        QTest::newRow("de dollar text") << de << "$1,234.00" << false;
        QTest::newRow("de dot decimal") << de << "1.5" << false;
    }
    void numericTest()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, numeric);
        QLocale::setDefault(QLocale(locale));
        QCOMPARE(IsNumeric(text), numeric);
    }

    void everyFormattedAmountIsNumericAndStable_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char* l : {"en_US", "de_DE", "fr_FR", "nl_NL", "de_CH", "en_IN", "ja_JP", "en_GB"})
            QTest::newRow(l) << QString::fromLatin1(l);
    }
    void everyFormattedAmountIsNumericAndStable()
    {
        // Leaving an already formatted month cell must accept it and give the same text again.
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        for (double v : {0.0, 1234.5, -5.0, 1250.0, 0.125, -1234567.891, 99999999.99}) {
            const QString shown = FormatAmount(v, 2);
            QVERIFY2(IsNumeric(shown), qPrintable(shown));
            QCOMPARE(FormatAmount(shown, 2), shown);
            QCOMPARE(NumericValue(shown).value(), QLocale().toDouble(QLocale().toString(v, 'f', 2)));
        }
        QVERIFY(reports.empty());
    }

    void clearNonNumericKeepsDigitsAndInnerSeparators()
    {
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        QCOMPARE(ClearNonNumeric(QStringLiteral("1234.5")), QVariant(QStringLiteral("1234.5")));   // numeric: as is
        QCOMPARE(ClearNonNumeric(QStringLiteral("abc")), QVariant(0));
        QCOMPARE(ClearNonNumeric(QString()), QVariant(0));
        QCOMPARE(ClearNonNumeric(QStringLiteral("a1b2.5c")), QVariant(QStringLiteral("12.5")));
        QCOMPARE(ClearNonNumeric(QStringLiteral(".5x")), QVariant(QStringLiteral("5")));   // leading mark dropped
        QCOMPARE(ClearNonNumeric(QStringLiteral("1.2.3")), QVariant(QStringLiteral("1.2.3")));
        QCOMPARE(ClearNonNumeric(QStringLiteral("-12 EUR")), QVariant(QStringLiteral("12")));
        QCOMPARE(ClearNonNumeric(42), QVariant(42));
    }

    void formatAmountInTheUsersCurrency()
    {
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        QCOMPARE(FormatAmount(QStringLiteral("1234.5"), 2), QStringLiteral("$1,234.50"));
        QCOMPARE(FormatAmount(QStringLiteral("0"), 2), QStringLiteral("$0.00"));
        QCOMPARE(FormatAmount(QStringLiteral("abc"), 2), QStringLiteral("$0.00"));
        QCOMPARE(FormatAmount(QStringLiteral("1250"), 2), QStringLiteral("$1,250.00"));
        QCOMPARE(FormatAmount(QStringLiteral("2.345"), 2), QStringLiteral("$2.35"));
        QCOMPARE(FormatAmount(1234.5, 2), QStringLiteral("$1,234.50"));
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        QCOMPARE(FormatAmount(QStringLiteral("1234,5"), 2), QStringLiteral("1.234,50\u00a0€"));
    }

    void anAmountSavedUnderAnotherLocaleIsReadAsItsDigits()
    {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        QCOMPARE(ClearNonNumeric(QStringLiteral("$1,234.00")), QVariant(QStringLiteral("1,23400")));
        QCOMPARE(FormatAmount(QStringLiteral("$1,234.00"), 2), QStringLiteral("1,23\u00a0€"));
    }

    void twoSeparatorsLeftAfterCleaningIsATypeMismatch()
    {
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        QVERIFY_THROWS_EXCEPTION(StepError, FormatAmount(QStringLiteral("1.2.3x"), 2));
        // a huge digit run is no number either, and must not come out as "inf"
        QVERIFY_THROWS_EXCEPTION(StepError, FormatAmount(QString(400, QLatin1Char('9')) + QLatin1Char('x'), 2));
        QVERIFY(reports.empty());   // the failure goes to the caller, not to a report of its own
    }
};

QTEST_MAIN(TestNumberText)
#include "test_numbertext.moc"
