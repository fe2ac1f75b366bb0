// Saving a copy of the generated workbook, going back to the inputs, and closing the preview.
#include "preview/form2.h"

#include "core/apptitle.h"
#include "core/dialogs.h"
#include "core/files.h"
#include "core/guard.h"
#include "core/safefile.h"
#include "core/settingsstore.h"
#include "preview/savefolder.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace corvantis {

namespace {

// The store key of the folder the user last saved to.
const char* const kLastSaveFolderKey = "LastSaveFolder";

// Every saved copy is a workbook: a name not ending in ".xls" gets it, whatever else it holds
// ("Budget v1.2 final" gives "Budget v1.2 final.xls").
QString withWorkbookExtension(const QString& path)
{
    if (path.isEmpty() || path.endsWith(QStringLiteral(".xls"), Qt::CaseInsensitive))
        return path;
    return path.endsWith(QLatin1Char('.')) ? path + QStringLiteral("xls") : path + QStringLiteral(".xls");
}

bool sameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QFileInfo fa(a), fb(b);
    const QString ca = fa.canonicalFilePath(), cb = fb.canonicalFilePath();
    if (!ca.isEmpty() && !cb.isEmpty())
        return ca == cb;
    return QDir::cleanPath(fa.absoluteFilePath()) == QDir::cleanPath(fb.absoluteFilePath());
}

} // namespace

QString saveDialogStartFolder(SettingsStore& store)
{
    const QString last = store.get(QString::fromLatin1(kLastSaveFolderKey), QString());
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

void rememberSaveFolder(SettingsStore& store, const QString& savedFile)
{
    store.save(QString::fromLatin1(kLastSaveFolderKey), QFileInfo(savedFile).absolutePath());
}

// The user's existing file is replaced only once a complete copy stands beside it (SafeFile).
// What goes wrong is told about the user's file: the copy in progress is the program's own business.
void Form2::copyWorkbookTo(const QString& target, bool replaceExisting) const
{
    QFile source(mExcelFile);
    if (!QFileInfo(mExcelFile).isFile() || !source.open(QIODevice::ReadOnly))
        throw WriteError(SafeFile::failureText(
            target, QStringLiteral("the generated workbook is no longer there; please create it again")));

    // Without the user's word to replace it, a file that appears meanwhile is kept.
    SafeFile copy(target, replaceExisting ? SafeFile::Existing::Replace : SafeFile::Existing::Keep);
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(1 << 16);
        if (chunk.isEmpty())
            throw WriteError(SafeFile::failureText(target, QStringLiteral("the generated workbook cannot be read (%1)")
                                                              .arg(source.errorString())));
        copy.write(chunk);
    }
    copy.commit();
}

SettingsStore& Form2::store() const
{
    return mStore ? *mStore : SettingsStore::standard();
}

// The save dialog opens where the user last saved, else in their Documents folder; never in
// whatever folder the program happens to run in.
QString Form2::saveDialogFolder() const
{
    return saveDialogStartFolder(store());
}

void Form2::PushButton6_Click()
{
    Guard g(Procedure::PreviewSave);
    Dialogs::SaveRequest request;
    QString target;
    Dialogs::Answer answer = Dialogs::Answer::Ok;   // neither Yes nor No yet
    bool replaceExisting = false;

    // 106: no file name yet; the dialog starts in the folder (the trailing "/" says so).
    g.step(106, [&] { request.fileName = QDir(saveDialogFolder()).absolutePath() + QLatin1Char('/'); });
    request.title = QStringLiteral("Save File");              // 108
    request.filter = QStringLiteral("Excel Files (*.xls)");   // 110
    QString chosen;
    g.step(112, [&] { chosen = Dialogs::saveFile(request, this); });
    g.step(114, [&] { target = withWorkbookExtension(chosen); });

    if (!target.isEmpty()) {
        if (sameFile(target, mExcelFile)) {
            // Copying the workbook onto itself would only destroy it.
            Dialogs::inform(QStringLiteral("The results cannot be saved over their own working copy ") + target
                                + QStringLiteral(". Please choose another file name."),
                            this);
            return;
        }
        bool exists = false;
        g.step(118, [&] { exists = FileExists(target); });
        if (exists) {
            g.step(120, [&] {
                answer = Dialogs::message(QStringLiteral("Are you sure you wish to overwrite ") + target
                                              + QStringLiteral(" ?"),
                                          ApplicationTitle(), Dialogs::Icon::None, Dialogs::Buttons::YesNo, this);
            });
            if (answer == Dialogs::Answer::Yes)
                replaceExisting = true;   // 124
        } else {
            answer = Dialogs::Answer::Yes;   // 126
        }
    }

    bool copied = true;
    if (answer == Dialogs::Answer::Yes)
        copied = g.step(130, [&] {
            try {
                copyWorkbookTo(target, replaceExisting);
            } catch (const WriteError& e) {
                // The user's to mend (a full disk, a closed folder, a name that is a folder): said
                // plainly, and the preview stays for another try.
                Dialogs::inform(QString::fromStdString(e.what()), this);
                copied = false;
                return;
            }
            rememberSaveFolder(store(), target);
        }) && copied;
    if (copied)
        g.step(132, [&] { Dialogs::inform(QStringLiteral("Done."), this); });
}

void Form2::PushButton8_Click()
{
    Guard g(Procedure::PreviewBack);
    g.step(102, [&] { DeleteScratchFile(mExcelFile); });
    g.step(104, [&] {
        if (mMainWindow)
            mMainWindow->show();
    });
    g.step(106, [&] { hide(); });
}

void Form2::Form_QueryUnload()
{
    Guard g(Procedure::PreviewClose);
    g.step(100, [&] { DeleteScratchFile(mExcelFile); });
    g.step(102, [&] { QCoreApplication::processEvents(); });
    g.step(104, [&] { QCoreApplication::processEvents(); });
}

void Form2::closeEvent(QCloseEvent* event)
{
    Form_QueryUnload();
    event->accept();
    // Closing the preview ends the program, the hidden main window included.
    QCoreApplication::quit();
}

} // namespace corvantis
