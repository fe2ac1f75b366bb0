#include "app/previewmenu.h"

#include "app/form1.h"
#include "core/dialogs.h"
#include "core/files.h"
#include "core/guard.h"
#include "core/safefile.h"
#include "core/settingsstore.h"
#include "preview/form2.h"
#include "preview/picturebox.h"
#include "preview/savefolder.h"
#include "workbook/workbookexport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>

namespace corvantis {

namespace {

PreviewMenu::PrintDialog& printDialogHook()
{
    static PreviewMenu::PrintDialog hook;
    return hook;
}

// The store beside the inputs, where the preview keeps the folder of the last save: the main
// window's, or the user's when there is none.
SettingsStore& saveFolderStore()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* form1 = qobject_cast<Form1*>(w))
            return form1->store();
    return SettingsStore::standard();
}

bool systemPrintDialog(QPrinter& printer, QWidget* parent)
{
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("Print"));
    return dialog.exec() == QDialog::Accepted;
}

} // namespace

void PreviewMenu::setPrintDialog(PrintDialog dialog) { printDialogHook() = std::move(dialog); }

PreviewMenu::PreviewMenu(Form2& form2) : QObject(&form2), mForm2(form2)
{
    mMenu = new QMenu(&form2);
    mMenu->setObjectName(QStringLiteral("mnuPicture"));
    auto add = [&](const QString& text, const QKeySequence& keys, void (PreviewMenu::*slot)()) {
        auto* action = new QAction(text, &form2);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        // Also on the window itself, so the shortcuts work while the menu is closed.
        form2.addAction(action);
        mMenu->addAction(action);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    mCopy = add(QStringLiteral("Copy Picture"), QKeySequence::Copy, &PreviewMenu::CopyPicture_Click);
    mMenu->addSeparator();
    mSaveXlsx = add(QStringLiteral("Save as Excel Workbook (.xlsx)…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
                    &PreviewMenu::SaveXlsx_Click);
    mExportPdf = add(QStringLiteral("Export as PDF…"), QKeySequence(Qt::CTRL | Qt::Key_E), &PreviewMenu::ExportPdf_Click);
    mMenu->addSeparator();
    mPrint = add(QStringLiteral("Print…"), QKeySequence::Print, &PreviewMenu::Print_Click);

    QWidget* picture = form2.Picture1();
    picture->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(picture, &QWidget::customContextMenuRequested, this, &PreviewMenu::showAt);
}

void PreviewMenu::showAt(const QPoint& position)
{
    const bool haveWorkbook = FileExists(mForm2.excelFile());
    mCopy->setEnabled(haveWorkbook || mForm2.Picture1()->hasPicture());
    mSaveXlsx->setEnabled(haveWorkbook);
    mExportPdf->setEnabled(haveWorkbook);
    mPrint->setEnabled(haveWorkbook);
    mMenu->popup(mForm2.Picture1()->mapToGlobal(position));
}

void PreviewMenu::CopyPicture_Click()
{
    Guard g(Procedure::PreviewCopyPicture);
    g.step(100, [&] {
        // Drawn afresh from the workbook at its natural size, whatever the zoom on screen.
        QImage picture;
        if (FileExists(mForm2.excelFile()))
            picture = SheetImage(mForm2.excelFile());
        if (picture.isNull())
            picture = mForm2.Picture1()->picture().toImage();
        if (picture.isNull())
            throw StepError(QStringLiteral("There is no picture to copy"));
        QGuiApplication::clipboard()->setImage(picture);
    });
}

QString PreviewMenu::askTarget(const QString& title, const QString& filter, const QString& extension)
{
    // Opens where the .xls dialog does; the trailing "/" names a folder, not a file.
    const QString folder = QDir(saveDialogStartFolder(saveFolderStore())).absolutePath() + QLatin1Char('/');
    QString target = Dialogs::saveFile(Dialogs::SaveRequest{title, filter, folder}, &mForm2);
    if (target.isEmpty())
        return {};
    if (QFileInfo(target).suffix().compare(extension, Qt::CaseInsensitive) != 0)
        target += QLatin1Char('.') + extension;
    if (FileExists(target)) {
        const Dialogs::Answer answer = Dialogs::message(QStringLiteral("Are you sure you wish to overwrite ") + target
                                                            + QStringLiteral(" ?"),
                                                        QString(), Dialogs::Icon::None, Dialogs::Buttons::YesNo, &mForm2);
        if (answer != Dialogs::Answer::Yes)
            return {};
    }
    return target;
}

void PreviewMenu::SaveXlsx_Click()
{
    Guard g(Procedure::PreviewSaveXlsx);
    QString target;
    g.step(100, [&] {
        target = askTarget(QStringLiteral("Save as Excel Workbook"), QStringLiteral("Excel Workbook (*.xlsx)"),
                           QStringLiteral("xlsx"));
    });
    if (target.isEmpty())
        return;
    // The file is replaced only once the new one is complete.
    bool written = false;
    g.step(102, [&] { written = writeFile(target, [&] { SaveAsXlsx(mForm2.excelFile(), target); }); });
    if (written)
        g.step(104, [&] { Dialogs::inform(QStringLiteral("Done."), &mForm2); });
}

void PreviewMenu::ExportPdf_Click()
{
    Guard g(Procedure::PreviewExportPdf);
    QString target;
    g.step(100, [&] { target = askTarget(QStringLiteral("Export as PDF"), QStringLiteral("PDF Files (*.pdf)"), QStringLiteral("pdf")); });
    if (target.isEmpty())
        return;
    bool written = false;
    g.step(102, [&] { written = writeFile(target, [&] { ExportPdf(mForm2.excelFile(), target); }); });
    if (written)
        g.step(104, [&] { Dialogs::inform(QStringLiteral("Done."), &mForm2); });
}

void PreviewMenu::Print_Click()
{
    Guard g(Procedure::PreviewPrint);
    QPrinter printer(QPrinter::HighResolution);
    if (!g.step(100, [&] { PreparePrinter(mForm2.excelFile(), printer); }))
        return;
    bool accepted = false;
    g.step(102, [&] {
        const PrintDialog& dialog = printDialogHook();
        accepted = dialog ? dialog(printer, &mForm2) : systemPrintDialog(printer, &mForm2);
    });
    if (accepted)
        g.step(104, [&] {
            try {
                PrintWorkbook(mForm2.excelFile(), printer);
            } catch (const WriteError& e) {
                Dialogs::inform(QString::fromStdString(e.what()), &mForm2);   // printed to a file that cannot be written
            }
        });
}

bool PreviewMenu::writeFile(const QString& target, const std::function<void()>& write)
{
    try {
        write();
    } catch (const WriteError& e) {
        // The user's to mend (a full disk, a closed folder): said plainly, the preview stays.
        Dialogs::inform(QString::fromStdString(e.what()), &mForm2);
        return false;
    }
    rememberSaveFolder(saveFolderStore(), target);
    return true;
}

PreviewMenu* installPreviewMenu(Form2& form2)
{
    return new PreviewMenu(form2);
}

} // namespace corvantis
