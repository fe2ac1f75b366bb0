// Start-up of the main window as the program does it: application object, Form1 with its load
// procedure (settings store, month headers, 33 lines of amounts, the spreadsheet probe), shown,
// then waiting until the window system has exposed it. Prints "startup_ms" measured from the
// start of main() and exits; the caller times the whole process for the loader's share.
//
//   startup_time             time one start-up with the user's settings store
//   startup_time --example   fill the store with the example figures first (PushButton7), no timing
//
// Point XDG_CONFIG_HOME at a private folder to keep the user's own settings out of it.
#include "app/form1.h"
#include "workbook/excellifecycle.h"

#include <QApplication>
#include <QElapsedTimer>

#include "shown.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    QElapsedTimer sinceMain;
    sinceMain.start();

    QApplication app(argc, argv);
    nameApplication(app);

    corvantis::Form1::Services services;
    services.excelProbe = [] { corvantis::CheckExcelAvailable(); };
    corvantis::Form1 form(services);
    form.Form_Load();

    if (argc > 1 && std::strcmp(argv[1], "--example") == 0) {
        form.PushButton7_Click();
        return 0;
    }

    return reportShown(form, sinceMain, "startup_time");
}
