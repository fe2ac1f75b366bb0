// Two copies of the real program started at once on the same settings file and scratch folder:
// both come up and stay up, and the settings file both write at start-up stays a valid INI that
// still holds what the user had stored.
#include "core/settingsstore.h"

#include "faults/faultkit.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

class TestTwoCopies : public QObject {
    Q_OBJECT

    // The figure of a stored amount text such as "$1,200.00"; NaN when there is none.
    static double amount(QString text)
    {
        text.remove(QRegularExpression(QStringLiteral("[^0-9.]")));
        bool ok = false;
        const double v = text.toDouble(&ok);
        return ok ? v : std::nan("");
    }

private slots:
    void twoCopiesStartTogether()
    {
        const QString binary = QDir(qEnvironmentVariable("CORVANTIS_BIN_DIR")).filePath(QStringLiteral("corvantis"));
        if (!QFileInfo(binary).isExecutable())
            QSKIP(qPrintable(QStringLiteral("the built program is not at ") + binary));
        QTemporaryDir config, temp;
        QVERIFY(config.isValid() && temp.isValid());
        const QString ini = config.filePath(QStringLiteral("Kestrelon/Corvantis.ini"));
        QVERIFY(QDir().mkpath(QFileInfo(ini).absolutePath()));
        {
            QSettings seed(ini, QSettings::IniFormat);
            seed.beginGroup(QStringLiteral("Corvantis"));
            seed.setValue(QStringLiteral("txtCompanyName"), QStringLiteral("Twin Trading"));
            seed.setValue(QStringLiteral("txtRevenue0"), QStringLiteral("Consulting"));
            seed.setValue(QStringLiteral("txtYear10"), QStringLiteral("1200"));
            seed.endGroup();
            seed.sync();
            QCOMPARE(seed.status(), QSettings::NoError);
        }

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.insert(QStringLiteral("TEMP"), temp.path());
        std::unique_ptr<QProcess> copies[2];
        for (auto& p : copies) {
            p = std::make_unique<QProcess>();
            p->setProcessEnvironment(env);
            p->setProcessChannelMode(QProcess::MergedChannels);
            p->start(binary, {});
        }
        for (auto& p : copies)
            QVERIFY2(p->waitForStarted(10000), qPrintable(p->errorString()));

        // Start-up reads and rewrites every cell; give both time to do it side by side.
        QTest::qWait(2500);
        for (int i = 0; i < 2; ++i)
            QVERIFY2(copies[i]->state() == QProcess::Running,
                     qPrintable(QStringLiteral("copy %1 ended at start-up (status %2, code %3): %4")
                                    .arg(i + 1)
                                    .arg(int(copies[i]->exitStatus()))
                                    .arg(copies[i]->exitCode())
                                    .arg(QString::fromLocal8Bit(copies[i]->readAll()))));
        for (auto& p : copies) {
            p->terminate();
            if (!p->waitForFinished(10000)) {
                p->kill();
                p->waitForFinished(5000);
            }
        }

        QSettings reader(ini, QSettings::IniFormat);
        QCOMPARE(reader.status(), QSettings::NoError);
        reader.beginGroup(QStringLiteral("Corvantis"));
        QCOMPARE(reader.value(QStringLiteral("txtCompanyName")).toString(), QStringLiteral("Twin Trading"));
        QCOMPARE(reader.value(QStringLiteral("txtRevenue0")).toString(), QStringLiteral("Consulting"));
        // Amounts come back in the currency format of the copy's own locale.
        QCOMPARE(amount(reader.value(QStringLiteral("txtYear10")).toString()), 1200.0);
        // Every amount is written back formatted at start-up, by one copy or the other.
        QCOMPARE(amount(reader.value(QStringLiteral("txtYear1232")).toString()), 0.0);
        const QStringList amounts = reader.childKeys().filter(QRegularExpression(QStringLiteral("^txtYear")));
        QVERIFY2(amounts.size() == 33 * 12, qPrintable(QString::number(amounts.size())));
        // Start-up makes no scratch files.
        QCOMPARE(faultkit::listing(temp.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestTwoCopies)
#include "test_twocopies.moc"
