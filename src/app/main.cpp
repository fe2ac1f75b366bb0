#include "app/commandline.h"
#include "app/form1.h"
#include "app/generationhost.h"
#include "app/messageboxes.h"
#include "workbook/excellifecycle.h"

#include <QApplication>

#include <optional>

int main(int argc, char** argv)
{
    // `corvantis --generate PATH` and the like run without windows and end here.
    if (const std::optional<int> status = corvantis::runCommandLine(argc, argv))
        return *status;
    // The icon lives in a static library, so its resources are registered by hand.
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrelon"));
    QApplication::setApplicationName(QStringLiteral("Corvantis"));
    // Only Form1's close ends the program; a hidden main window with the preview up is no end.
    app.setQuitOnLastWindowClosed(false);
    corvantis::MessageBoxes boxes;
    corvantis::Dialogs::setBackend(&boxes);

    corvantis::Form1::Services services;
    services.excelProbe = &corvantis::CheckExcelAvailable;
    corvantis::Form1 form(services);
    corvantis::MainGenerationHost generation(form);
    form.Form_Load();
    form.show();
    return app.exec();
}
