// Typed text as a spreadsheet converts it, in United States and German conventions.
#include "spreadsheet/textinput.h"

#include <QtTest>

#include <cmath>

using namespace ss;

namespace {

NumberLocale german() { return NumberLocale{",", ".", "\xE2\x82\xAC", "-"}; }

} // namespace

class TestTextInput : public QObject {
    Q_OBJECT
private slots:
    void numbers_data();
    void numbers();
    void staysText_data();
    void staysText();
    void blanks();
    void germanConventions();
    void exactDigitsAndMarks();
    void oneSpellingForEveryText();
    void furtherSpellingsOfTheLocale();
    void freeAsciiMarks_data();
    void freeAsciiMarks();
};

void TestTextInput::numbers_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("expected");
    QTest::newRow("integer") << "42" << 42.0;
    QTest::newRow("decimal") << "7.5" << 7.5;
    QTest::newRow("grouped") << "1,250.00" << 1250.0;
    QTest::newRow("grouped millions") << "12,345,678" << 12345678.0;
    QTest::newRow("currency") << "$1,250.00" << 1250.0;
    QTest::newRow("currency after") << "1250 $" << 1250.0;
    QTest::newRow("minus currency") << "-$5.00" << -5.0;
    QTest::newRow("currency minus") << "$-5.00" << -5.0;
    QTest::newRow("parentheses") << "($5.00)" << -5.0;
    QTest::newRow("parentheses plain") << "(12)" << -12.0;
    QTest::newRow("plus") << "+3" << 3.0;
    QTest::newRow("blanks around") << "  99  " << 99.0;
    QTest::newRow("percent") << "7%" << 0.07;
    QTest::newRow("percent blank") << "12.5 %" << 0.125;
    QTest::newRow("exponent") << "1.5E3" << 1500.0;
    QTest::newRow("negative exponent") << "-2e-2" << -0.02;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("trailing point") << "5." << 5.0;
    QTest::newRow("loose first group") << "1234,567" << 1234567.0;
    QTest::newRow("minus zero") << "-0" << 0.0;
}

void TestTextInput::numbers()
{
    QFETCH(QString, typed);
    QFETCH(double, expected);
    const Value v = valueFromTypedText(typed.toStdString());
    QVERIFY2(v.isNumber(), qPrintable(typed));
    QCOMPARE(v.number(), expected);
    QVERIFY(!std::signbit(v.number()) || expected < 0);
}

void TestTextInput::staysText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("word") << "abc";
    QTest::newRow("trailing letters") << "12abc";
    QTest::newRow("leading letters") << "abc12";
    QTest::newRow("two decimal marks") << "1,2,3.4.5";
    QTest::newRow("short group") << "1,23";
    QTest::newRow("long group") << "1,2345";
    QTest::newRow("group after decimal") << "1.234,5";
    QTest::newRow("sign alone") << "-";
    QTest::newRow("point alone") << ".";
    QTest::newRow("currency alone") << "$";
    QTest::newRow("two signs") << "--5";
    QTest::newRow("parenthesised minus") << "(-5)";
    QTest::newRow("unbalanced") << "(5";
    QTest::newRow("empty exponent") << "5e";
    QTest::newRow("leading separator") << ",123";
    QTest::newRow("inner blank") << "1 000";
    QTest::newRow("too large") << "1e999";
    QTest::newRow("other currency") << "\xE2\x82\xAC" "5";
    QTest::newRow("line label") << "Category 1";
}

void TestTextInput::staysText()
{
    QFETCH(QString, typed);
    const std::string raw = typed.toStdString();
    const Value v = valueFromTypedText(raw);
    QVERIFY2(v.isText(), qPrintable(typed));
    QCOMPARE(v.text(), raw);   // kept as typed
}

void TestTextInput::blanks()
{
    QVERIFY(valueFromTypedText("").isBlank());
    QVERIFY(valueFromTypedText("   ").isBlank());
    QVERIFY(valueFromTypedText("\t \xC2\xA0").isBlank());
}

void TestTextInput::germanConventions()
{
    const NumberLocale de = german();
    QCOMPARE(valueFromTypedText("1.234,50 \xE2\x82\xAC", de), Value(1234.5));
    QCOMPARE(valueFromTypedText("1.234,50\xE2\x82\xAC", de), Value(1234.5));
    QCOMPARE(valueFromTypedText("-1.234,5", de), Value(-1234.5));
    QCOMPARE(valueFromTypedText("7,5", de), Value(7.5));
    QCOMPARE(valueFromTypedText("7,5 %", de), Value(0.075));
    QCOMPARE(valueFromTypedText("\xE2\x82\xAC 3", de), Value(3.0));
    QVERIFY(valueFromTypedText("1,234.50", de).isText());   // US grouping is not German
    QVERIFY(valueFromTypedText("$5", de).isText());
    QVERIFY(valueFromTypedText("1.23", de).isText());         // a short group, not a decimal

    // French-style grouping with a no-break space accepts a plain blank as well.
    const NumberLocale fr{",", "\xC2\xA0", "\xE2\x82\xAC", "-"};
    QCOMPARE(valueFromTypedText("1\xC2\xA0" "234,5", fr), Value(1234.5));
    QCOMPARE(valueFromTypedText("1 234,5", fr), Value(1234.5));
}

void TestTextInput::exactDigitsAndMarks()
{
    const auto n = readTypedNumber("-1,234.500e2");
    QVERIFY(n);
    QVERIFY(n->negative && !n->percent && !n->currency);
    QCOMPARE(n->whole, std::string("1234"));
    QCOMPARE(n->fraction, std::string("500"));   // trailing zeros kept
    QCOMPARE(n->exponent, 2LL);
    QCOMPARE(n->value, -123450.0);

    const auto p = readTypedNumber("(12.5 %)");
    QVERIFY(p && p->percent && p->negative);
    QCOMPARE(p->value, -0.125);
    QVERIFY(!readTypedNumber("-0.00")->negative);
    QVERIFY(readTypedNumber("$5")->currency);
    QVERIFY(!readTypedNumber("$7%"));     // a currency is no percentage
    QVERIFY(!readTypedNumber("1e-400"));  // below any double, as 1e400 is above
    QCOMPARE(readTypedNumber("0e5000")->value, 0.0);
}

void TestTextInput::oneSpellingForEveryText()
{
    QCOMPARE(valueFromTypedText("\xD9\xA1\xD9\xA2.\xD9\xA5"), Value(12.5));          // Arabic-Indic digits
    QCOMPARE(valueFromTypedText("\xEF\xBC\x91\xEF\xBC\x92"), Value(12.0));           // full-width digits
    QCOMPARE(valueFromTypedText("\xE2\x88\x92" "5"), Value(-5.0));                       // minus sign
    QCOMPARE(valueFromTypedText("$\xE2\x80\x8E-5"), Value(-5.0));                        // direction mark inside
    QCOMPARE(valueFromTypedText("$(5)"), Value(-5.0));
    const NumberLocale swiss{".", "\xE2\x80\x99", "CHF", "-"};
    QCOMPARE(valueFromTypedText("1'234.50", swiss), Value(1234.5));
    QCOMPARE(valueFromTypedText("CHF\xC2\xA0" "1\xE2\x80\x99" "234.50", swiss), Value(1234.5));
    const NumberLocale fr{",", "\xE2\x80\xAF", "\xE2\x82\xAC", "-"};
    QCOMPARE(valueFromTypedText("1\xC2\xA0" "234,5 \xE2\x82\xAC", fr), Value(1234.5));   // no-break for narrow
}

void TestTextInput::furtherSpellingsOfTheLocale()
{
    NumberLocale us;
    us.otherCurrencySymbols = {"USD", "US$"};
    QCOMPARE(valueFromTypedText("5 USD", us), Value(5.0));
    QCOMPARE(valueFromTypedText("-5 US$", us), Value(-5.0));   // the longer spelling first

    // Currency texts with marks of their own; plain numbers keep theirs.
    NumberLocale money{",", ".", "\xE2\x82\xAC", "-"};
    money.currencyDecimal = ".";
    money.currencyGroup = ",";
    QCOMPARE(valueFromTypedText("1.234,5", money), Value(1234.5));
    QCOMPARE(valueFromTypedText("\xE2\x82\xAC" "1,234.50", money), Value(1234.5));
    QVERIFY(valueFromTypedText("1.234.5", money).isText());
}

// The ASCII point and comma people type where the locale leaves them free.
void TestTextInput::freeAsciiMarks_data()
{
    QTest::addColumn<QString>("decimal");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("expected");   // NaN: stays text
    const double text = std::nan("");
    const QString arabicDecimal = QStringLiteral("\u066b"), arabicGroup = QStringLiteral("\u066c");
    const QString narrowSpace = QStringLiteral("\u202f"), apostrophe = QStringLiteral("\u2019");
    QTest::newRow("arabic marks, ascii point") << arabicDecimal << arabicGroup << "1234.56" << 1234.56;
    QTest::newRow("arabic marks, ascii groups") << arabicDecimal << arabicGroup << "1,234,567.5" << 1234567.5;
    QTest::newRow("arabic marks, three decimals") << arabicDecimal << arabicGroup << "1.234" << 1.234;
    QTest::newRow("arabic marks, own still read") << arabicDecimal << arabicGroup << "1\u066c234\u066b5" << 1234.5;
    QTest::newRow("arabic marks, mixed") << arabicDecimal << arabicGroup << "1,234\u066b5" << text;
    QTest::newRow("french, point") << "," << narrowSpace << "1234.56" << 1234.56;
    QTest::newRow("french, point and own groups") << "," << narrowSpace << "1 234.5" << 1234.5;
    QTest::newRow("french, point could be a group") << "," << narrowSpace << "1.234" << text;
    QTest::newRow("swiss, comma") << "." << apostrophe << "1234,50" << 1234.5;
    QTest::newRow("swiss, comma could be a group") << "." << apostrophe << "1,234" << text;
    QTest::newRow("german, point is the group") << "," << "." << "1234.56" << text;
    QTest::newRow("american, comma is the group") << "." << "," << "1234,5" << text;
}

void TestTextInput::freeAsciiMarks()
{
    QFETCH(QString, decimal);
    QFETCH(QString, group);
    QFETCH(QString, typed);
    QFETCH(double, expected);
    NumberLocale loc{decimal.toStdString(), group.toStdString(), "", "-"};
    loc.readFreeAsciiMarks = true;
    const Value v = valueFromTypedText(typed.toStdString(), loc);
    if (std::isnan(expected))
        QVERIFY2(v.isText(), qPrintable(typed));
    else
        QCOMPARE(v, Value(expected));
}

QTEST_APPLESS_MAIN(TestTextInput)
#include "test_textinput.moc"
