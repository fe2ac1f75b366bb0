// The settings store: one value per cell key, restored at the next start, nothing lost when the
// program is killed right after typing.
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "core/settingsstore.h"
#include "sheet/monthheaders.h"
#include "core/numbertext.h"

#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace corvantis;

namespace {
const QDate kToday(2026, 3, 15);

std::unique_ptr<Form1> startForm(SettingsStore& store)
{
    Form1::Services s;
    s.store = &store;
    s.today = [] { return kToday; };
    auto f = std::make_unique<Form1>(s);
    f->Form_Load();
    return f;
}

QString cellName(int column)
{
    if (column == 0)
        return QStringLiteral("txtRevenue");
    if (column == 1)
        return QStringLiteral("txtInd");
    return QStringLiteral("txtYear") + QString::number(column - 1);
}
} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::vector<ErrorReport> reports;
    QString iniPath() const { return dir->filePath(QStringLiteral("Kestrelon/Corvantis.ini")); }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        Dialogs::setScripted(true);
    }
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        reports.clear();
        setErrorReportSink([this](const ErrorReport& r) { reports.push_back(r); });
    }
    void cleanup() { setErrorReportSink({}); }

    void defaultFileFollowsXdgConfigHome()
    {
        qputenv("XDG_CONFIG_HOME", dir->path().toUtf8());
        QCOMPARE(SettingsStore::defaultFilePath(), dir->path() + QStringLiteral("/Kestrelon/Corvantis.ini"));
        qputenv("XDG_CONFIG_HOME", "relative/is/ignored");
        QVERIFY(SettingsStore::defaultFilePath().endsWith(QStringLiteral("/.config/Kestrelon/Corvantis.ini")));
    }

    void valuesLiveInTheCorvantisGroupAndReachTheDiskAtOnce()
    {
        SettingsStore store(iniPath());
        store.save(QStringLiteral("txtInd3"), QStringLiteral("1"));
        store.save(QStringLiteral("txtInd3"), QStringLiteral("12"));
        QSettings reader(iniPath(), QSettings::IniFormat);   // another reader sees it without any flush
        QCOMPARE(reader.value(QStringLiteral("Corvantis/txtInd3")).toString(), QStringLiteral("12"));
        QCOMPARE(store.get(QStringLiteral("absent"), QStringLiteral("dflt")), QStringLiteral("dflt"));
        // keys match without regard to case and keep one value
        QCOMPARE(store.get(QStringLiteral("TXTIND3"), QString()), QStringLiteral("12"));
        store.save(QStringLiteral("TxtInd3"), QStringLiteral("7"));
        QCOMPARE(store.get(QStringLiteral("txtInd3"), QString()), QStringLiteral("7"));
        QSettings again(iniPath(), QSettings::IniFormat);
        again.beginGroup(QStringLiteral("Corvantis"));
        QCOMPARE(again.childKeys(), QStringList{QStringLiteral("txtInd3")});
    }

    void aBatchWritesOnceAtItsEnd()
    {
        SettingsStore store(iniPath());
        {
            SettingsStore::Batch batch(store);
            store.save(QStringLiteral("txtCompanyName"), QStringLiteral("ACME"));
            QVERIFY(!QFile::exists(iniPath()));
        }
        QSettings reader(iniPath(), QSettings::IniFormat);
        QCOMPARE(reader.value(QStringLiteral("Corvantis/txtCompanyName")).toString(), QStringLiteral("ACME"));
    }

    void cellKeysAreDistinct()
    {
        QSet<QString> keys;
        for (int line = 0; line < 33; ++line) {
            for (int column = 0; column < 14; ++column)
                keys.insert(cellSettingKey(cellName(column), line).toLower());
        }
        QCOMPARE(keys.size(), 462);
        QCOMPARE(cellSettingKey(QStringLiteral("txtInd"), 7), QStringLiteral("txtInd7"));
        QCOMPARE(cellSettingKey(QStringLiteral("txtYear12"), 32), QStringLiteral("txtYear1232"));
        QCOMPARE(cellSettingKey(QStringLiteral("txtYear1"), 9), QStringLiteral("txtYear19"));
        QCOMPARE(cellSettingKey(QStringLiteral("txtYear1"), 10), QStringLiteral("txtYear1_10"));
        QCOMPARE(cellSettingKey(QStringLiteral("txtYear1"), 29), QStringLiteral("txtYear1_29"));
        QCOMPARE(cellSettingKey(QStringLiteral("txtYear1"), 30), QStringLiteral("txtYear130"));
        QCOMPARE(cellSettingKey(QStringLiteral("txtYear11"), 0), QStringLiteral("txtYear110"));
    }

    void every462CellSurvivesARestartInItsOwnCell()
    {
        {
            SettingsStore store(iniPath());
            auto f = startForm(store);
            SettingsStore::Batch batch(store);   // one disk write for the lot keeps the test quick
            for (int line = 0; line < 33; ++line) {
                f->txtRevenue(line)->setText(QStringLiteral("Name %1").arg(line));
                f->txtInd(line)->setText(QString::number(line + 0.5));
                for (int m = 1; m <= 12; ++m)
                    f->txtYear(m, line)->setText(FormatAmount(line * 100 + m, 2));
            }
            f->txtCompanyName()->setText(QStringLiteral("Kestrel Ltd"));
        }
        SettingsStore store(iniPath());
        auto f = startForm(store);
        QSet<QString> seen;
        for (int line = 0; line < 33; ++line) {
            QCOMPARE(f->txtRevenue(line)->text(), QStringLiteral("Name %1").arg(line));
            QCOMPARE(f->txtRevenue(line)->toolTip(), QStringLiteral("Name %1").arg(line));
            QCOMPARE(f->txtInd(line)->text(), QString::number(line + 0.5));
            for (int m = 1; m <= 12; ++m) {
                QCOMPARE(f->txtYear(m, line)->text(), FormatAmount(line * 100 + m, 2));
                seen.insert(f->txtYear(m, line)->text());
            }
        }
        QCOMPARE(seen.size(), 33 * 12);
        QCOMPARE(f->txtCompanyName()->text(), QStringLiteral("Kestrel Ltd"));
        QVERIFY(reports.empty());
    }

    void theFiscalDateRoundTripsWithItsWholeYear_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char* l : {"en_US", "de_DE", "en_GB", "ja_JP"})
            QTest::newRow(l) << QString::fromLatin1(l);
    }
    void theFiscalDateRoundTripsWithItsWholeYear()
    {
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        for (const QDate d : {QDate(2026, 1, 31), QDate(1926, 7, 4), QDate(2099, 12, 1), QDate(9999, 12, 31)}) {
            const QString text = sheet::dateSettingText(d);
            QVERIFY2(text.contains(QString::number(d.year())), qPrintable(text));
            QCOMPARE(sheet::dateFromSetting(text), d);
        }
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }

    void twoDigitYearsAndIsoAreReadToo()
    {
        QCOMPARE(sheet::dateFromSetting(QStringLiteral("3/15/26")), QDate(2026, 3, 15));
        QCOMPARE(sheet::dateFromSetting(QStringLiteral("3/15/45")), QDate(1945, 3, 15));
        QCOMPARE(sheet::dateFromSetting(QStringLiteral("3/15/2026")), QDate(2026, 3, 15));
        QCOMPARE(sheet::dateFromSetting(QStringLiteral("2026-03-15")), QDate(2026, 3, 15));
        QVERIFY(!sheet::dateFromSetting(QStringLiteral("soon")).isValid());
        QVERIFY(!sheet::dateFromSetting(QString()).isValid());
    }

    void theDateWrittenAtStartupIsReadBackUnchanged()
    {
        {
            SettingsStore store(iniPath());
            store.save(QStringLiteral("DTPicker1"), QStringLiteral("1/31/2026"));
            auto f = startForm(store);
            QCOMPARE(f->DTPicker1()->date(), QDate(2026, 1, 31));
            f->DTPicker1()->setDate(QDate(2026, 8, 1));
        }
        SettingsStore store(iniPath());
        QCOMPARE(store.get(QStringLiteral("DTPicker1"), QString()), QStringLiteral("8/1/2026"));
        auto f = startForm(store);
        QCOMPARE(f->DTPicker1()->date(), QDate(2026, 8, 1));
    }

    void malformedStoredValuesNeverStopStartup()
    {
        {
            QSettings raw(iniPath(), QSettings::IniFormat);
            raw.beginGroup(QStringLiteral("Corvantis"));
            raw.setValue(QStringLiteral("DTPicker1"), QStringLiteral("the day after"));
            raw.setValue(QStringLiteral("txtYear35"), QStringLiteral("lots"));
            raw.setValue(QStringLiteral("txtYear42"), QStringLiteral("1.2.3x"));
            raw.setValue(QStringLiteral("txtYear63"), QString(100000, QLatin1Char('7')) + QLatin1Char('x'));
            raw.setValue(QStringLiteral("txtInd4"), QStringLiteral("abc"));
            raw.setValue(QStringLiteral("txtRevenue2"), QString(50000, QLatin1Char('n')));
        }
        SettingsStore store(iniPath());
        auto f = startForm(store);
        // the date is reported as step 138 and the picker keeps its value
        QCOMPARE(f->DTPicker1()->date(), kToday);
        QCOMPARE(f->lblYear(0)->text(), QStringLiteral("Mar-26"));
        QCOMPARE(f->txtYear(5, 3)->text(), QStringLiteral("$0.00"));          // letters: cleaned to nothing
        QCOMPARE(f->txtYear(4, 2)->text(), QStringLiteral("$0.00"));          // FormatAmount fails: sane zero
        QCOMPARE(f->txtYear(6, 3)->text(), QStringLiteral("$0.00"));          // too large to be a number
        QCOMPARE(f->txtInd(4)->text(), QStringLiteral("abc"));                // IND. % shown as stored
        QCOMPARE(f->txtRevenue(2)->text().size(), f->txtRevenue(2)->maxLength());   // as much as the box holds
        QCOMPARE(f->txtYear(1, 32)->text(), QStringLiteral("$0.00"));         // the rest still filled
        QList<int> steps;
        for (const ErrorReport& r : reports) {
            steps << r.step;
            QCOMPARE(r.location, QStringLiteral("in Marrowfen2021/08/31.Form1.Form_Load "));
        }
        QCOMPARE(steps, (QList<int>{138, 152 + 2 * (4 - 1), 152 + 2 * (6 - 1)}));
        QCOMPARE(store.get(QStringLiteral("txtYear42"), QString()), QStringLiteral("$0.00"));
    }

    // Child side of the kill test: types into the real window with the real store, then waits.
    void childTypesAndWaitsToBeKilled()
    {
        if (qEnvironmentVariableIsEmpty("CORVANTIS_KILL_CHILD"))
            QSKIP("runs only as the child of aChangeSurvivesAKillRightAfterTyping");
        Form1 f;   // the user's store under $XDG_CONFIG_HOME
        f.Form_Load();
        f.show();
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.txtInd(3)->setFocus();
        QTest::keyClicks(f.txtInd(3), QStringLiteral("12"));
        f.txtRevenue(5)->setFocus();
        QTest::keyClicks(f.txtRevenue(5), QStringLiteral("x"));
        QFile out;
        QVERIFY(out.open(stdout, QIODevice::WriteOnly));
        out.write("typed\n");
        out.flush();
        QTest::qWait(60000);
    }

    void aChangeSurvivesAKillRightAfterTyping()
    {
        if (!qEnvironmentVariableIsEmpty("CORVANTIS_KILL_CHILD"))
            QSKIP("parent side only");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CORVANTIS_KILL_CHILD"), QStringLiteral("1"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir->path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("childTypesAndWaitsToBeKilled")});
        QVERIFY(child.waitForStarted());
        QString output;
        QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromUtf8(child.readAllStandardOutput())).contains(
                                     QStringLiteral("typed\n")),
                                 30000);
        child.kill();   // SIGKILL: no chance to flush anything
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        QSettings reader(iniPath(), QSettings::IniFormat);
        reader.beginGroup(QStringLiteral("Corvantis"));
        QCOMPARE(reader.value(QStringLiteral("txtInd3")).toString(), QStringLiteral("012"));
        QCOMPARE(reader.value(QStringLiteral("txtRevenue5")).toString().right(1), QStringLiteral("x"));
        QCOMPARE(reader.value(QStringLiteral("txtYear1232")).toString(), FormatAmount(0, 2));
    }
};

QTEST_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
