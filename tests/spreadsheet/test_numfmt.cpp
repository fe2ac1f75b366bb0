#include "spreadsheet/numfmt.h"

#include <QtTest>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>

using ss::ErrorCode;
using ss::Value;

Q_DECLARE_METATYPE(Value)

class TestNumfmt : public QObject {
    Q_OBJECT

    static void row(const char* name, const Value& v, const char* code, const char* expected)
    {
        QTest::newRow(name) << v << QString::fromUtf8(code) << QString::fromUtf8(expected);
    }

private slots:
    void format_data()
    {
        QTest::addColumn<Value>("value");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("expected");

        // Plain number codes the projection sheet uses.
        row("0 int", 1234.0, "0", "1234");
        row("0 half up", 0.5, "0", "1");
        row("0 half up 2.5", 2.5, "0", "3");
        row("0 negative half away", -2.5, "0", "-3");
        row("0 negative rounds to zero keeps sign", -0.4, "0", "-0");
        row("0.00 float noise", 0.1 + 0.2, "0.00", "0.30");
        row("0 large", 123456789012345.0, "0", "123456789012345");
        row("0.0", 12.34, "0.0", "12.3");
        row("0.0 pct of line", 33.333333333, "0.0", "33.3");
        row("0.0 zero", 0.0, "0.0", "0.0");
        row("0.00 pads", 3.0, "0.00", "3.00");
        row("0.00 decimal rounding", 2.345, "0.00", "2.35");
        row("0.00 below half", 2.3449, "0.00", "2.34");
        row("0.00 carry", 9.995, "0.00", "10.00");
        row("0.00 tiny", 0.001, "0.00", "0.00");
        row("#,##0", 1234567.0, "#,##0", "1,234,567");
        row("#,##0 small", 999.0, "#,##0", "999");
        row("#,##0 zero", 0.0, "#,##0", "0");
        row("#,##0 negative", -1234.4, "#,##0", "-1,234");
        row("#,##0 rounds to group", 999.5, "#,##0", "1,000");
        row("#,##0.00", 1234.5, "#,##0.00", "1,234.50");
        row("#,##0.00 negative", -0.125, "#,##0.00", "-0.13");
        row("#,##0 scaled", 1234567.0, "#,##0,", "1,235");
        row("millions", 1234567.0, "0.0,,", "1.2");
        row("# optional", 0.0, "#", "");
        row("#.## keeps point", 1.0, "#.##", "1.");
        row(".00 no int digit", 0.5, "#.00", ".50");
        row("0.0# optional decimals", 1.5, "0.0#", "1.5");
        row("0.0# used decimals", 1.256, "0.0#", "1.26");
        row("? aligns", 5.0, "???", "  5");
        row("000 pads", 7.0, "000", "007");
        row("literals between digits", 1234567.0, "000-0000", "123-4567");

        // Percent and scientific.
        row("0%", 0.256, "0%", "26%");
        row("0.0%", 0.2567, "0.0%", "25.7%");
        row("0% negative", -0.5, "0%", "-50%");
        row("0.00E+00", 12345.0, "0.00E+00", "1.23E+04");
        row("0.00E+00 small", 0.000123, "0.00E+00", "1.23E-04");
        row("0.00E+00 carry", 9.999, "0.00E+00", "1.00E+01");
        row("0.00E+00 zero", 0.0, "0.00E+00", "0.00E+00");
        row("engineering", 12345.0, "##0.0E+0", "12.3E+3");
        row("E- hides plus", 12345.0, "0.0E-0", "1.2E4");

        // Sections, colours, literals.
        row("neg section parens", -1234.5, "$#,##0.00;($#,##0.00)", "($1,234.50)");
        row("neg section positive", 1234.5, "$#,##0.00;($#,##0.00)", "$1,234.50");
        row("one section currency minus", -5.0, "$#,##0.00", "-$5.00");
        row("zero section", 0.0, "0;-0;\"zero\"", "zero");
        row("two sections zero uses first", 0.0, "0.0;(0.0)", "0.0");
        row("empty negative section", -3.0, "0;;0", "");
        row("red negative", -3.0, "0;[Red]0", "3");
        row("quoted literal", 5.0, "0\" units\"", "5 units");
        row("backslash escape", 5.0, "0\\k", "5k");
        row("underscore space", 5.0, "0_)", "5 ");
        row("star fill dropped", 5.0, "* 0", "5");
        row("accounting style", 1234.0, "_($* #,##0_);_($* (#,##0);_($* \"-\"_);_(@_)", " $1,234 ");
        row("accounting zero", 0.0, "_($* #,##0_);_($* (#,##0);_($* \"-\"_);_(@_)", " $- ");
        row("currency tag euro", 5.0, "[$\xE2\x82\xAC-407]0.00", "\xE2\x82\xAC" "5.00");
        row("currency tag dollar", 5.0, "[$$-409]#,##0", "$5");
        row("condition big", 1500.0, "[>=1000]#,##0,\"K\";0", "2K");
        row("condition small", 15.0, "[>=1000]#,##0,\"K\";0", "15");
        row("general inside section", -4.5, "General;(General)", "(4.5)");

        // Dates and times.
        row("mmm-yy", 37987.0, "mmm-yy", "Jan-04");
        row("mmm-yy 2025", 45658.0, "mmm-yy", "Jan-25");
        row("locale mmm-yy", 38018.0, "[$-409]mmm\\-yy;@", "Feb-04");
        row("m/d/yy", 37987.0, "m/d/yy", "1/1/04");
        row("d-mmm-yy leap bug", 60.0, "d-mmm-yy", "29-Feb-00");
        row("d-mmm-yy", 45658.0, "d-mmm-yy", "1-Jan-25");
        row("long names", 45658.0, "dddd, mmmm dd, yyyy", "Wednesday, January 01, 2025");
        row("ddd", 45659.0, "ddd", "Thu");
        row("mmmmm", 45658.0, "mmmmm", "J");
        row("time 24h", 0.75, "h:mm", "18:00");
        row("time ss", 45658.5 + 61.0 / 86400, "hh:mm:ss", "12:01:01");
        row("am/pm", 0.75, "h:mm AM/PM", "6:00 PM");
        row("am/pm midnight", 0.0, "h:mm AM/PM", "12:00 AM");
        row("m before s is minutes", 5.0 / 1440 + 7.0 / 86400, "m:ss", "5:07");
        row("elapsed hours", 1.5, "[h]:mm", "36:00");
        row("seconds rounding carries", 0.5 - 0.2 / 86400, "h:mm:ss", "12:00:00");
        row("sub-seconds", 1.25 / 86400, "mm:ss.00", "00:01.25");
        row("date plus time", 45658.25, "m/d/yy h:mm", "1/1/25 6:00");
        row("negative date", -1.0, "m/d/yy", "########");

        // General.
        row("general int", 1234.0, "General", "1234");
        row("general 11 digits", 12345678901.0, "General", "12345678901");
        row("general big", 1234567890123.0, "General", "1.23457E+12");
        row("general float noise", 0.1 + 0.2, "General", "0.3");
        row("general third", 1.0 / 3, "General", "0.333333333");
        row("general negative", -1234.5, "General", "-1234.5");
        row("general tiny", 0.00001234, "General", "1.234E-05");
        row("general small ok", 0.0001, "General", "0.0001");
        row("general zero", 0.0, "General", "0");
        row("general lower case code", 2.5, "general", "2.5");
        row("empty code is general", 2.5, "", "2.5");

        // Text, Booleans, errors.
        row("text through @", Value("abc"), "@", "abc");
        row("text through 4th section", Value("abc"), "0;-0;0;\"<\"@\">\"", "<abc>");
        row("text through locale @", Value("May"), "[$-409]mmm\\-yy;@", "May");
        row("text through numeric", Value("Category 1"), "#,##0", "Category 1");
        row("dash text through 0.0", Value("-"), "0.0", "-");
        row("number through @ is general", 12.5, "@", "12.5");
        row("bool", Value(true), "0.00", "TRUE");
        row("bool false", Value(false), "General", "FALSE");
        row("error", Value(ErrorCode::Div0), "#,##0", "#DIV/0!");
        row("blank", Value(), "#,##0", "");
    }

    void format()
    {
        QFETCH(Value, value);
        QFETCH(QString, code);
        QFETCH(QString, expected);
        const auto out = ss::formatValue(value, code.toStdString());
        QCOMPARE(QString::fromStdString(out.text), expected);
    }

    void colours()
    {
        auto neg = ss::formatValue(-3.0, "0;[Red]0");
        QVERIFY(neg.hasColor);
        QCOMPARE(neg.color, 0xFFFF0000u);
        auto pos = ss::formatValue(3.0, "0;[Red]0");
        QVERIFY(!pos.hasColor);
        auto blue = ss::formatValue(3.0, "[Blue]0");
        QCOMPARE(blue.color, 0xFF0000FFu);
        auto indexed = ss::formatValue(3.0, "[Color10]0");   // palette entry 17: dark green
        QCOMPARE(indexed.color, 0xFF008000u);
    }

    void date1904()
    {
        // Serial 0 in the 1904 system is 1 January 1904.
        QCOMPARE(QString::fromStdString(ss::formatValue(0.0, "d-mmm-yy", true).text), QString("1-Jan-04"));
        QCOMPARE(QString::fromStdString(ss::formatValue(0.0, "dddd", true).text), QString("Friday"));
    }

    void generalWidth()
    {
        QCOMPARE(QString::fromStdString(ss::formatGeneral(1234.5678, 6)), QString("1234.6"));
        QCOMPARE(QString::fromStdString(ss::formatGeneral(123456789.0, 5)), QString("1E+08"));
        QCOMPARE(QString::fromStdString(ss::formatGeneral(-0.123456, 4)), QString("-0.12"));
    }

    // Every format starts from the fifteen digits; the quick way for everyday numbers must give
    // the general conversion's digits to the last, ties and powers of ten included.
    void fifteenDigitsAsTheGeneralConversion()
    {
        const auto general = [](double x) {
            char buf[64];
            *std::to_chars(buf, buf + 63, x, std::chars_format::scientific, 14).ptr = '\0';
            return std::string(buf);
        };
        const auto quick = [](double x) {
            char buf[64];
            ss::fifteenDigits(x, buf);
            return std::string(buf);
        };
        std::vector<double> xs = {1e-4, 1e15, 0.1, 0.3, 2.345, 12345.675, 100000000000000.5, 100000000000001.5,
                                  999999999999999.5, 99999999999999.95, 0.00999999999999999, 1234.5, 5e-5, 7e20};
        for (int k = -5; k <= 16; ++k) {
            const double p = std::pow(10.0, k);
            xs.insert(xs.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, 1e300)});
        }
        std::mt19937_64 random(11);
        for (int i = 0; i < 300000; ++i) {
            const auto bits = random();
            xs.push_back(static_cast<double>(bits % 10000000000ull) / 100.0);                    // amounts in cents
            xs.push_back(std::ldexp(static_cast<double>(bits >> 11), -static_cast<int>(bits % 70)));   // any mantissa
            double any;
            const std::uint64_t raw = (bits & 0x800fffffffffffffull) | ((1000 + bits % 80) << 52);
            std::memcpy(&any, &raw, sizeof any);
            xs.push_back(std::abs(any));
        }
        for (const double x : xs) {
            if (!(x > 0) || !std::isfinite(x))
                continue;
            if (quick(x) != general(x))
                QFAIL(qPrintable(QStringLiteral("%1: %2 against %3").arg(x, 0, 'g', 17).arg(QString::fromStdString(quick(x)), QString::fromStdString(general(x)))));
        }
    }

    void dateDetection_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("isDate");
        QTest::newRow("mmm-yy") << "mmm-yy" << true;
        QTest::newRow("locale date") << "[$-409]mmm\\-yy;@" << true;
        QTest::newRow("time") << "h:mm" << true;
        QTest::newRow("elapsed") << "[h]:mm" << true;
        QTest::newRow("general") << "General" << false;
        QTest::newRow("number") << "#,##0.00" << false;
        QTest::newRow("red") << "[Red]0.0" << false;
        QTest::newRow("locale only") << "[$-409]0.00" << false;
        QTest::newRow("quoted letters") << "0\" days\"" << false;
        QTest::newRow("escaped letter") << "0\\d" << false;
        QTest::newRow("scientific") << "0.00E+00" << false;
        QTest::newRow("text") << "@" << false;
    }

    void dateDetection()
    {
        QFETCH(QString, code);
        QFETCH(bool, isDate);
        QCOMPARE(ss::isDateFormat(code.toStdString()), isDate);
    }
};

QTEST_APPLESS_MAIN(TestNumfmt)
#include "test_numfmt.moc"
