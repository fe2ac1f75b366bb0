// The settings store: one value per cell key, restored at the next start, nothing lost when the
// program is killed right after typing.
#include "core/apptitle.h"
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "core/projectioninputs.h"
#include "core/settingsstore.h"
#include "sheet/form1_fixture.h"
#include "sheet/monthheaders.h"
#include "sheet/sheetlayout.h"
#include "core/numbertext.h"

#include <QDateEdit>
#include <QDir>
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
    void cleanup()
    {
        setErrorReportSink({});
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        Dialogs::reset();
    }

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

    // ------------------------------------------------------------------ a store that cannot be written

    void anUnwritableStoreIsSaidOnceAndTypingGoesOn()
    {
        // Its folder cannot be made: a file stands where the folder should be.
        QFile blocker(dir->filePath(QStringLiteral("Kestrelon")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Dialogs::reset();
        SettingsStore store(iniPath());
        store.save(QStringLiteral("txtInd3"), QStringLiteral("1"));
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        const Dialogs::Shown box = Dialogs::shown().front();
        QVERIFY2(box.text.contains(QDir::toNativeSeparators(iniPath())), qPrintable(box.text));
        QVERIFY2(box.text.contains(QStringLiteral("is a file, not a folder")), qPrintable(box.text));
        QCOMPARE(box.caption, ApplicationTitle());
        QCOMPARE(box.buttons, Dialogs::Buttons::Ok);
        store.save(QStringLiteral("txtInd3"), QStringLiteral("12"));
        {
            SettingsStore::Batch batch(store);
            store.save(QStringLiteral("txtInd4"), QStringLiteral("5"));
        }
        QCOMPARE(Dialogs::shown().size(), size_t(1));   // once a run
        QCOMPARE(store.get(QStringLiteral("txtInd3"), QString()), QStringLiteral("12"));   // still there to read
        QVERIFY(store.writeFailureTold());
        QVERIFY(!QFile::exists(iniPath()));

        // The whole window: one message at start-up, then typing goes on without another.
        Dialogs::reset();
        SettingsStore windowStore(iniPath());
        auto f = startForm(windowStore);
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        f->txtInd(2)->setText(QStringLiteral("7"));
        f->txtYear(1, 2)->setText(QStringLiteral("99"));
        f->txtRevenue(2)->setText(QStringLiteral("Bread"));
        QCOMPARE(Dialogs::shown().size(), size_t(1));
        QCOMPARE(f->txtRevenue(2)->text(), QStringLiteral("Bread"));
        QCOMPARE(windowStore.get(QStringLiteral("txtRevenue2"), QString()), QStringLiteral("Bread"));
        QVERIFY(reports.empty());
        Dialogs::reset();
    }

    void theReasonNamesWhatStandsInTheWay()
    {
        SettingsStore writable(iniPath());
        QVERIFY(writable.writeProblem().isEmpty());
        QFile blocker(dir->filePath(QStringLiteral("Kestrelon")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(SettingsStore(dir->filePath(QStringLiteral("Kestrelon/deeper/Corvantis.ini"))).writeProblem().contains(
            QStringLiteral("is a file, not a folder")));
        QVERIFY(QDir(dir->path()).mkpath(QStringLiteral("a/Corvantis.ini")));
        QCOMPARE(SettingsStore(dir->filePath(QStringLiteral("a/Corvantis.ini"))).writeProblem(),
                 QStringLiteral("a folder of that name is in the way"));
    }

    // ------------------------------------------------------------------ the locale of the texts

    void aStoreNamesTheLocaleItsTextsAreWrittenIn()
    {
        SettingsStore store(iniPath());
        QVERIFY(!store.textsLocale());
        auto f = startForm(store);
        QCOMPARE(store.get(QStringLiteral("Locale"), QString()), QStringLiteral("en_Latn_US"));
        QCOMPARE(store.textsLocale()->territory(), QLocale::UnitedStates);
    }

    void figuresTypedUnderOneLocaleKeepTheirValueUnderEveryOther_data()
    {
        QTest::addColumn<QStringList>("locales");
        QTest::newRow("round the world") << QStringList{QStringLiteral("de_DE"), QStringLiteral("fr_FR"), QStringLiteral("en_IN"),
                                                        QStringLiteral("ar_EG"), QStringLiteral("de_CH"), QStringLiteral("ja_JP"),
                                                        QStringLiteral("sv_SE"), QStringLiteral("hi_IN"), QStringLiteral("en_US")};
        QTest::newRow("there and back") << QStringList{QStringLiteral("de_DE"), QStringLiteral("en_US")};
    }
    void figuresTypedUnderOneLocaleKeepTheirValueUnderEveryOther()
    {
        QFETCH(QStringList, locales);
        const QuietFontWarnings quiet;   // scripts this machine may have no font for
        const QDate fiscal(2025, 9, 30);
        const double amounts[] = {450, 1250, 1234567.89, -5.5, 0.01, 100000, 999999999.99};
        QStringList firstTexts;
        {
            SettingsStore store(iniPath());
            auto f = startForm(store);
            f->PushButton7_Click();
            for (int i = 0; i < int(std::size(amounts)); ++i)
                f->txtYear(4 + i, 20)->setText(FormatAmount(amounts[i], 2));
            f->txtInd(20)->setText(QStringLiteral("7.5"));
            f->txtInd(21)->setText(QStringLiteral("-3"));
            f->txtInd(22)->setText(QStringLiteral("abc"));   // no number: kept as it is
            f->DTPicker1()->setDate(fiscal);
            for (int m = 1; m <= 12; ++m)
                firstTexts << f->txtYear(m, 20)->text() << f->txtYear(m, 0)->text();
        }
        for (const QString& locale : locales) {
            QLocale::setDefault(QLocale(locale));
            SettingsStore store(iniPath());
            auto f = startForm(store);
            QVERIFY2(reports.empty(), qPrintable(locale));
            QCOMPARE(f->DTPicker1()->date(), fiscal);
            QCOMPARE(sheet::dateFromSetting(store.get(QStringLiteral("DTPicker1"), QString())), fiscal);
            QCOMPARE(store.get(QStringLiteral("Locale"), QString()), LocaleName(QLocale()));
            for (int i = 0; i < int(std::size(amounts)); ++i) {
                QLineEdit* cell = f->txtYear(4 + i, 20);
                QCOMPARE(cell->text(), FormatAmount(amounts[i], 2));
                QCOMPARE(store.get(cellSettingKey(sheet::monthControlName(4 + i), 20), QString()), cell->text());
            }
            QCOMPARE(NumericValue(f->txtYear(1, 0)->text()).value(), 1250.0);   // the example data
            QCOMPARE(NumericValue(f->txtYear(2, 7)->text()).value(), 320.0);
            QCOMPARE(NumericValue(f->txtInd(20)->text()).value(), 7.5);
            QCOMPARE(NumericValue(f->txtInd(21)->text()).value(), -3.0);
            QCOMPARE(f->txtInd(22)->text(), QStringLiteral("abc"));
            QCOMPARE(store.get(QStringLiteral("txtInd20"), QString()), f->txtInd(20)->text());
        }
        // back where it started: the very texts of the first run
        QStringList lastTexts;
        {
            QLocale::setDefault(QLocale(QStringLiteral("en_US")));
            SettingsStore store(iniPath());
            auto f = startForm(store);
            for (int m = 1; m <= 12; ++m)
                lastTexts << f->txtYear(m, 20)->text() << f->txtYear(m, 0)->text();
            QCOMPARE(f->txtInd(20)->text(), QStringLiteral("7.5"));
        }
        QCOMPARE(lastTexts, firstTexts);
    }

    void aStoreWithoutTheLocaleIsReadAsBefore()
    {
        {
            QSettings raw(iniPath(), QSettings::IniFormat);
            raw.beginGroup(QStringLiteral("Corvantis"));
            raw.setValue(QStringLiteral("txtYear10"), QStringLiteral("$1,234.00"));
            raw.setValue(QStringLiteral("txtYear20"), QStringLiteral("7,5"));
            raw.setValue(QStringLiteral("txtInd0"), QStringLiteral("7.5"));
        }
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        SettingsStore store(iniPath());
        auto f = startForm(store);
        // neither text is known to be of another locale: read by today's, as they always were
        QCOMPARE(f->txtYear(1, 0)->text(), QStringLiteral("1,23\u00a0\u20ac"));
        QCOMPARE(f->txtYear(2, 0)->text(), QStringLiteral("7,50\u00a0\u20ac"));
        QCOMPARE(f->txtInd(0)->text(), QStringLiteral("7.5"));
        QCOMPARE(store.get(QStringLiteral("Locale"), QString()), QStringLiteral("de_Latn_DE"));
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }

    void aTextNeitherLocaleReadsIsReducedAsBefore()
    {
        {
            QSettings raw(iniPath(), QSettings::IniFormat);
            raw.beginGroup(QStringLiteral("Corvantis"));
            raw.setValue(QStringLiteral("Locale"), QStringLiteral("en_US"));
            raw.setValue(QStringLiteral("txtYear10"), QStringLiteral("x1,2y"));
            raw.setValue(QStringLiteral("txtYear20"), QStringLiteral("7,5"));   // German reads it
        }
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        SettingsStore store(iniPath());
        auto f = startForm(store);
        QCOMPARE(f->txtYear(1, 0)->text(), QStringLiteral("1,20\u00a0\u20ac"));
        QCOMPARE(f->txtYear(2, 0)->text(), QStringLiteral("7,50\u00a0\u20ac"));
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }

    void aDateWrittenUnderAnotherLocaleIsReadInIt()
    {
        {
            QSettings raw(iniPath(), QSettings::IniFormat);
            raw.beginGroup(QStringLiteral("Corvantis"));
            raw.setValue(QStringLiteral("Locale"), QStringLiteral("en_Latn_US"));
            raw.setValue(QStringLiteral("DTPicker1"), QStringLiteral("8/1/2026"));
        }
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        {
            SettingsStore store(iniPath());
            auto f = startForm(store);
            QVERIFY(reports.empty());
            QCOMPARE(f->DTPicker1()->date(), QDate(2026, 8, 1));
            QCOMPARE(store.get(QStringLiteral("DTPicker1"), QString()), QStringLiteral("01.08.2026"));
        }
        QLocale::setDefault(QLocale(QStringLiteral("en_GB")));
        SettingsStore store(iniPath());
        auto f = startForm(store);
        QVERIFY(reports.empty());
        QCOMPARE(f->DTPicker1()->date(), QDate(2026, 8, 1));
        QCOMPARE(store.get(QStringLiteral("DTPicker1"), QString()), QStringLiteral("01/08/2026"));
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }

    void anUnreadableDateIsReportedOnceNotAtEveryStart()
    {
        {
            QSettings raw(iniPath(), QSettings::IniFormat);
            raw.setValue(QStringLiteral("Corvantis/DTPicker1"), QStringLiteral("the day after"));
        }
        {
            SettingsStore store(iniPath());
            auto f = startForm(store);
            QCOMPARE(reports.size(), size_t(1));
            QCOMPARE(reports.front().step, 138);
            QCOMPARE(f->DTPicker1()->date(), kToday);
        }
        reports.clear();
        SettingsStore store(iniPath());
        auto f = startForm(store);
        QVERIFY(reports.empty());
        QCOMPARE(f->DTPicker1()->date(), kToday);
    }

    void theFiscalDateRoundTripsInEveryLocale()
    {
        const QList<QLocale> all = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
        for (const QLocale& l : all) {
            for (const QDate d : {QDate(2026, 1, 31), QDate(1926, 7, 4), QDate(2099, 12, 1)}) {
                const QString text = sheet::dateSettingText(d, l);
                QVERIFY2(sheet::dateFromSetting(text, l) == d, qPrintable(l.name() + QStringLiteral(": ") + text));
            }
        }
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
