// Number text: the decimal mark, the numeric test, cleaning and the currency form, under the
// locales the program meets (injected as the default locale), and under every locale glibc ships:
// each reads back what it writes, in the program and in the spreadsheet engine.
#include "core/errorreport.h"
#include "core/guard.h"
#include "core/numbertext.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/xls.h"
#include "workbook/excelapp.h"

#include <QFile>
#include <QLocale>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace corvantis;

namespace {

// The names of every locale glibc ships (Debian's locales-all lists them in SUPPORTED), then
// every locale Qt knows that none of those names gives.
QList<QPair<QString, QLocale>> everyLocale()
{
    QList<QPair<QString, QLocale>> out;
    QSet<QString> seen;
    QFile supported(QStringLiteral("/usr/share/i18n/SUPPORTED"));
    if (supported.open(QIODevice::ReadOnly)) {
        while (!supported.atEnd()) {
            const QString name = QString::fromUtf8(supported.readLine()).simplified().section(QLatin1Char(' '), 0, 0);
            if (name.isEmpty() || name.startsWith(QLatin1Char('#')))
                continue;
            const QLocale l(name);
            out.append({name, l});
            seen.insert(LocaleName(l));
        }
    }
    const QList<QLocale> all = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    for (const QLocale& l : all) {
        const QString name = LocaleName(l);
        if (!seen.contains(name)) {
            seen.insert(name);
            out.append({name, l});
        }
    }
    return out;
}

// Amounts in cents from -10^9 to 10^9: the edges, then a spread over every magnitude.
QList<qint64> amountsInCents()
{
    QList<qint64> cents{0, 1, -1, 50, 100, -100, 1234, 99999, 100000, -100000, 1234567, 10000000, 12345678,
                        -12345678, 123456789, 999999999, 10000000000, 99999999999, 100000000000, -100000000000};
    quint64 state = 0x2545F4914F6CDD1DULL;
    for (int i = 0; i < 40; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const int digits = 1 + int((state >> 33) % 11);   // 1 to 11 digits of cents
        qint64 n = qint64((state >> 11) % 100000000000ULL);
        qint64 limit = 1;
        for (int d = 0; d < digits; ++d)
            limit *= 10;
        n %= limit;
        cents << ((state & 1) ? -n : n);
    }
    return cents;
}

QString plainCents(qint64 cents)
{
    const qint64 a = cents < 0 ? -cents : cents;
    return QStringLiteral("%1%2.%3").arg(cents < 0 ? QStringLiteral("-") : QString()).arg(a / 100).arg(a % 100, 2, 10, QLatin1Char('0'));
}

} // namespace

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
        const std::pair<double, double> cases[] = {{0.0, 0.0},         {1234.5, 1234.5},          {-5.0, -5.0},
                                                   {1250.0, 1250.0},   {0.125, 0.13},             {-1234567.891, -1234567.89},
                                                   {99999999.99, 99999999.99}};
        for (const auto& [v, shownValue] : cases) {
            const QString shown = FormatAmount(v, 2);
            QVERIFY2(IsNumeric(shown), qPrintable(shown));
            QCOMPARE(FormatAmount(shown, 2), shown);
            QCOMPARE(NumericValue(shown).value(), shownValue);
        }
        QVERIFY(reports.empty());
    }

    // Every locale glibc ships (and every other locale Qt knows): the currency text FormatAmount
    // makes of an amount from -10^9 to 10^9 reads back as the same amount to the cent through
    // the numeric test and through the engine's typed-text conversion, and formats to itself.
    void everyLocaleReadsBackWhatItWrites_data()
    {
        QTest::addColumn<QLocale>("locale");
        const auto locales = everyLocale();
        QVERIFY(locales.size() > 400);
        for (const auto& [name, locale] : locales)
            QTest::newRow(qPrintable(name)) << locale;
    }
    void everyLocaleReadsBackWhatItWrites()
    {
        QFETCH(QLocale, locale);
        QLocale::setDefault(locale);
        static QTemporaryDir dir;
        static std::unique_ptr<Application> app;
        static std::optional<Worksheet> sheet;
        if (!sheet) {
            // A one-sheet workbook without formulas: each assignment is read back at once.
            ss::Workbook wb = ss::Workbook::makeDefault();
            ss::Sheet sh;
            sh.name = "Amounts";
            sh.cells[{0, 0}].value = 0.0;
            wb.sheets.push_back(sh);
            const QString path = dir.filePath(QStringLiteral("amounts.xls"));
            ss::xls::save(wb, path.toStdString());
            app = std::make_unique<Application>();
            sheet = app->Workbooks().Open(path, true).Worksheets(1);
        }
        for (const qint64 cents : amountsInCents()) {
            const QString plain = plainCents(cents);
            const QString shown = FormatAmount(plain.toDouble(), 2);
            const QByteArray what = (plain + QStringLiteral(" shown as ") + shown).toUtf8();
            QVERIFY2(IsNumeric(shown), what.constData());
            const std::optional<double> value = NumericValue(shown);
            QVERIFY2(value && qRound64(*value * 100) == cents, what.constData());
            QVERIFY2(FormatAmount(shown, 2) == shown, what.constData());

            sheet->Cells(1, 1) = shown;
            const QVariant engine = sheet->Cells(1, 1).Value();
            QVERIFY2(engine.typeId() == QMetaType::Double, (what + " stays text in the workbook").constData());
            QVERIFY2(qRound64(engine.toDouble() * 100) == cents,
                     (what + " reads as " + QByteArray::number(engine.toDouble(), 'f', 4)).constData());
        }
    }

    void amountsRoundHalfAwayFromZeroOnTheirDecimals_data()
    {
        QTest::addColumn<QVariant>("amount");
        QTest::addColumn<QString>("shown");
        QTest::newRow("2.675 typed") << QVariant(QStringLiteral("2.675")) << "$2.68";
        QTest::newRow("1.005 typed") << QVariant(QStringLiteral("1.005")) << "$1.01";
        QTest::newRow("2.675 as a number") << QVariant(2.675) << "$2.68";
        QTest::newRow("1.005 as a number") << QVariant(1.005) << "$1.01";
        QTest::newRow("negative half") << QVariant(QStringLiteral("-2.675")) << "($2.68)";
        QTest::newRow("a quarter cent") << QVariant(QStringLiteral("0.125")) << "$0.13";
        QTest::newRow("below half") << QVariant(QStringLiteral("2.674999")) << "$2.67";
        QTest::newRow("carry into the dollars") << QVariant(QStringLiteral("999.995")) << "$1,000.00";
        QTest::newRow("a tiny loss is no minus") << QVariant(QStringLiteral("-0.004")) << "$0.00";
        QTest::newRow("exponent") << QVariant(QStringLiteral("1.0055e3")) << "$1,005.50";
        QTest::newRow("long tail") << QVariant(QStringLiteral("1234567.894999999")) << "$1,234,567.89";
    }
    void amountsRoundHalfAwayFromZeroOnTheirDecimals()
    {
        QFETCH(QVariant, amount);
        QFETCH(QString, shown);
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        QCOMPARE(FormatAmount(amount, 2), shown);
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        QCOMPARE(FormatAmount(QString(amount.toString()).replace(QLatin1Char('.'), QLatin1Char(',')), 2),
                 QLocale().toCurrencyString(NumericValue(shown, QLocale(QStringLiteral("en_US"))).value(),
                                            QLocale().currencySymbol(), 2));
    }

    void theLocalesOwnFormsAreRead_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("indian groups") << "en_IN" << "\u20b91,23,456.00" << 123456.0;
        QTest::newRow("indian typed western") << "en_IN" << "1,234,567" << 1234567.0;
        QTest::newRow("hindi negative") << "hi_IN" << "\u20b9-12,34,567.89" << -1234567.89;
        QTest::newRow("swiss apostrophe typed") << "de_CH" << "1'234.50" << 1234.5;
        QTest::newRow("swiss right quote") << "de_CH" << "CHF\u00a01\u2019234.50" << 1234.5;
        QTest::newRow("french narrow space") << "fr_FR" << "1\u202f234,50\u00a0\u20ac" << 1234.5;
        QTest::newRow("french typed blank") << "fr_FR" << "1 234,5" << 1234.5;
        QTest::newRow("french brackets") << "fr_FR" << "(1\u202f234,50\u00a0\u20ac)" << -1234.5;
        QTest::newRow("swedish minus sign") << "sv_SE" << "\u22121\u00a0234,50\u00a0kr" << -1234.5;
        QTest::newRow("dutch symbol first") << "nl_NL" << "\u20ac -1.234,50" << -1234.5;
        QTest::newRow("arabic digits") << "ar_EG" << "\u0661\u066c\u0662\u0663\u0664\u066b\u0665\u0660" << 1234.5;
        QTest::newRow("arabic typed latin") << "ar_EG" << "1234" << 1234.0;
        QTest::newRow("persian bracketed") << "fa_IR" << "\u200e(\u0631\u06cc\u0627\u0644\u00a0\u06f1\u06f2)" << -12.0;
        QTest::newRow("iso code when no symbol") << "it_CH" << "CHF 12.50" << 12.5;
        QTest::newRow("full-width digits") << "ja_JP" << "\uffe5\uff11\uff12\uff13" << 123.0;
        // the forms people type besides the locale's own
        QTest::newRow("arabic, ascii point") << "ar_EG" << "1234.56" << 1234.56;
        QTest::newRow("arabic, ascii groups") << "ar_EG" << "1,234.5" << 1234.5;
        QTest::newRow("persian digits, ascii point") << "fa_IR" << "\u06f1\u06f2\u06f3\u06f4.\u06f5\u06f6" << 1234.56;
        QTest::newRow("french, point") << "fr_FR" << "1234.56" << 1234.56;
        QTest::newRow("swiss, comma") << "de_CH" << "1234,50" << 1234.5;
        QTest::newRow("ordinary yen sign") << "ja_JP" << "\u00a51,234" << 1234.0;
        QTest::newRow("yen word") << "ja_JP" << "1,234\u5186" << 1234.0;
        QTest::newRow("yen code") << "ja_JP" << "JPY 1,234" << 1234.0;
        QTest::newRow("rupees with point") << "en_IN" << "Rs. 100" << 100.0;
        QTest::newRow("rupees") << "en_IN" << "Rs 1,00,000" << 100000.0;
        QTest::newRow("dinar three decimals") << "ar_TN" << "0,125" << 0.125;
    }
    void theLocalesOwnFormsAreRead()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(double, value);
        const QLocale l(locale);
        QCOMPARE(NumericValue(text, l).value_or(-999), value);
    }

    void badGroupsAndMarksAreNoNumbers_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("short last group") << "en_US" << "1,23";
        QTest::newRow("two-digit inner group outside india") << "en_US" << "12,34,567";
        QTest::newRow("group after the mark") << "en_US" << "1.234,5";
        QTest::newRow("group with nothing after") << "en_US" << "1,";
        QTest::newRow("minus and brackets") << "en_US" << "(-5)";
        QTest::newRow("two symbols") << "en_US" << "$5$";
        QTest::newRow("hex") << "en_US" << "0x10";
        QTest::newRow("nan") << "en_US" << "nan";
        QTest::newRow("huge exponent") << "en_US" << "1e400";
        QTest::newRow("german dot decimal") << "de_DE" << "1.5";
        QTest::newRow("blank group in germany") << "de_DE" << "1 234,5";
        QTest::newRow("a percentage is no amount") << "en_US" << "7%";
        QTest::newRow("french point before three digits") << "fr_FR" << "1.234";
        QTest::newRow("swiss comma before three digits") << "de_CH" << "1,234";
        QTest::newRow("brazil point is a group") << "pt_BR" << "1234.56";
        QTest::newRow("a typo") << "en_US" << "5OO";
    }
    void badGroupsAndMarksAreNoNumbers()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QVERIFY(!IsNumeric(text, QLocale(locale)));
    }

    void aStoredAmountIsReadInTheLocaleItWasWrittenIn()
    {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        const QLocale us(QStringLiteral("en_US"));
        QCOMPARE(FormatStoredAmount(QStringLiteral("$450.00"), 2, us), QStringLiteral("450,00\u00a0\u20ac"));
        QCOMPARE(FormatStoredAmount(QStringLiteral("$1,250.00"), 2, us), QStringLiteral("1.250,00\u00a0\u20ac"));
        QCOMPARE(FormatStoredAmount(QStringLiteral("($5.50)"), 2, us), QStringLiteral("-5,50\u00a0\u20ac"));
        // a text the old locale cannot read but the new one can
        QCOMPARE(FormatStoredAmount(QStringLiteral("7,5"), 2, us), QStringLiteral("7,50\u00a0\u20ac"));
        // neither reads it: reduced to its digits, as before
        QCOMPARE(FormatStoredAmount(QStringLiteral("x1,2y"), 2, us), QStringLiteral("1,20\u00a0\u20ac"));
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        const QLocale de(QStringLiteral("de_DE"));
        QCOMPARE(FormatStoredAmount(QStringLiteral("45.000,00\u00a0\u20ac"), 2, de), QStringLiteral("$45,000.00"));
        QCOMPARE(FormatStoredAmount(QStringLiteral("1.234"), 2, de), QStringLiteral("$1,234.00"));
        QCOMPARE(FormatStoredAmount(QStringLiteral("\u0661\u066b\u0665"), 2, QLocale(QStringLiteral("ar_EG"))),
                 QStringLiteral("$1.50"));
    }

    void aStoredPercentageKeepsItsDigitsAndTakesTheNewMark()
    {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        const QLocale us(QStringLiteral("en_US"));
        QCOMPARE(ConvertNumberText(QStringLiteral("7.5"), us), QStringLiteral("7,5"));
        QCOMPARE(ConvertNumberText(QStringLiteral("7.50"), us), QStringLiteral("7,50"));
        QCOMPARE(ConvertNumberText(QStringLiteral("-3"), us), QStringLiteral("-3"));
        QCOMPARE(ConvertNumberText(QStringLiteral("0"), us), QStringLiteral("0"));
        QCOMPARE(ConvertNumberText(QStringLiteral("abc"), us), QStringLiteral("abc"));   // not a number: as stored
        QVERIFY(IsNumeric(ConvertNumberText(QStringLiteral("1,500.25"), us)));
        QCOMPARE(NumericValue(ConvertNumberText(QStringLiteral("1,500.25"), us)).value(), 1500.25);
    }

    void aLocaleNameGivesTheSameLocaleBack()
    {
        for (const auto& [name, locale] : everyLocale()) {
            const QLocale back(LocaleName(locale));
            QVERIFY2(back.language() == locale.language() && back.territory() == locale.territory()
                         && back.script() == locale.script(),
                     qPrintable(name + QStringLiteral(" -> ") + LocaleName(locale)));
        }
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

    void anAmountKeepsTheDecimalsOfItsCurrency_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::newRow("dinar") << "ar_TN" << "1,234" << 1.234 << 3;
        QTest::newRow("dinar rounds at the fils") << "ar_TN" << "7,0055" << 7.006 << 3;
        QTest::newRow("omani rial") << "ar_OM" << "0.5" << 0.5 << 3;
        QTest::newRow("yen") << "ja_JP" << "1234" << 1234.0 << 0;
        QTest::newRow("yen with a fraction keeps it") << "ja_JP" << "1234.5" << 1234.5 << 1;
        QTest::newRow("won") << "ko_KR" << "1,500" << 1500.0 << 0;
        QTest::newRow("euro") << "de_DE" << "7" << 7.0 << 2;
    }
    void anAmountKeepsTheDecimalsOfItsCurrency()
    {
        QFETCH(QString, locale);
        QFETCH(QString, typed);
        QFETCH(double, value);
        QFETCH(int, decimals);
        QLocale::setDefault(QLocale(locale));
        const QString shown = FormatAmount(typed, 2);
        QCOMPARE(shown, QLocale().toCurrencyString(value, QLocale().currencySymbol(), decimals));
        QCOMPARE(FormatAmount(shown, 2), shown);
        QCOMPARE(NumericValue(shown).value_or(-1), value);
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
