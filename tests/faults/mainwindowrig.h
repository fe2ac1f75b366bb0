#pragma once
// The real main window with its generation wiring, loaded on a private settings file, with
// scripted boxes and collected error reports: where every fault test starts, as the user would.
#include "core/dialogs.h"
#include "core/errorreport.h"
#include "app/form1.h"
#include "app/generationhost.h"
#include "core/settingsstore.h"

#include <QApplication>
#include <QDate>
#include <QLocale>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

struct MainWindowRig {
    std::unique_ptr<corvantis::SettingsStore> store;
    std::unique_ptr<corvantis::Form1> form1;
    std::unique_ptr<corvantis::MainGenerationHost> host;
    std::vector<corvantis::ErrorReport> reports;

    void load(const QTemporaryDir& work)
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        qApp->setQuitOnLastWindowClosed(false);
        corvantis::Dialogs::setScripted(true);
        corvantis::setErrorReportSink([this](const corvantis::ErrorReport& r) { reports.push_back(r); });
        store = std::make_unique<corvantis::SettingsStore>(work.filePath(QStringLiteral("settings.ini")),
                                                           corvantis::SettingsStore::Format::Ini);
        corvantis::Form1::Services services;
        services.store = store.get();
        services.today = [] { return QDate(2026, 3, 15); };
        services.excelProbe = [] {};
        form1 = std::make_unique<corvantis::Form1>(services);
        host = std::make_unique<corvantis::MainGenerationHost>(*form1);
        form1->Form_Load();
    }

    QString reportList() const
    {
        QStringList s;
        for (const corvantis::ErrorReport& r : reports)
            s << QStringLiteral("%1 at %2: %3").arg(r.location).arg(r.step).arg(r.description);
        return s.join(QStringLiteral("; "));
    }
};
