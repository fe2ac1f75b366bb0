#pragma once
// A shown main window on a private settings file, with scripted boxes and collected error reports.
// Tests of the sheet start from here so each one meets the window as a user does after start-up.
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "core/settingsstore.h"

#include <QDate>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

// While it lives, the font engine's notes about scripts no installed font covers stay out of the
// test log (tests that measure every locale's month names meet many of them).
class QuietFontWarnings {
public:
    QuietFontWarnings() { previous() = qInstallMessageHandler(&QuietFontWarnings::handle); }
    ~QuietFontWarnings() { qInstallMessageHandler(previous()); }
    QuietFontWarnings(const QuietFontWarnings&) = delete;
    QuietFontWarnings& operator=(const QuietFontWarnings&) = delete;

private:
    static QtMessageHandler& previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (message.contains(QLatin1String("OpenType support missing")))
            return;
        if (previous())
            previous()(type, context, message);
    }
};

struct Form1Fixture {
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<corvantis::SettingsStore> store;
    std::unique_ptr<corvantis::Form1> f;
    std::vector<corvantis::ErrorReport> reports;

    static void initTestCase()
    {
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        corvantis::Dialogs::setScripted(true);
    }

    QString iniPath() const { return dir->filePath(QStringLiteral("Corvantis.ini")); }
    QByteArray iniBytes() const
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Returns false when the window never became active.
    bool start(std::function<QDate()> today = {})
    {
        dir = std::make_unique<QTemporaryDir>();
        return open(std::move(today));
    }

    // Closes the window and starts the program again on the same settings file, as the next
    // start of the program does. Returns false when the window never became active.
    bool restart(std::function<QDate()> today = {})
    {
        f.reset();
        store.reset();
        return open(std::move(today));
    }

    // Starts the window on the settings file in `dir`.
    bool open(std::function<QDate()> today)
    {
        store = std::make_unique<corvantis::SettingsStore>(iniPath());
        reports.clear();
        corvantis::setErrorReportSink([this](const corvantis::ErrorReport& r) { reports.push_back(r); });
        corvantis::Form1::Services s;
        s.store = store.get();
        s.today = std::move(today);
        f = std::make_unique<corvantis::Form1>(s);
        f->Form_Load();
        f->show();
        f->activateWindow();
        const bool active = QTest::qWaitForWindowActive(f.get());
        corvantis::Dialogs::reset();
        return active;
    }

    // Closes the window; returns whether the run stayed free of error reports.
    bool stop()
    {
        f.reset();
        corvantis::setErrorReportSink({});
        return reports.empty();
    }
};
