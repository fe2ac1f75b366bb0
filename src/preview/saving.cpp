// Saving a copy of the generated workbook, going back to the inputs, and closing the preview.
#include "preview/form2.h"

#include "core/apptitle.h"
#include "core/dialogs.h"
#include "core/files.h"
#include "core/guard.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>
#include <system_error>

namespace corvantis {

namespace {

// A name typed without an extension gets the workbook's one.
QString withWorkbookExtension(const QString& path)
{
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty())
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

// A free name beside the target for the copy in progress.
QString pendingNameFor(const QString& target)
{
    const QFileInfo info(target);
    for (;;) {
        const QString name = QStringLiteral(".") + info.fileName() + QStringLiteral(".")
            + QString::number(QRandomGenerator::global()->generate(), 16) + QStringLiteral(".part");
        const QString path = QDir(info.absolutePath()).filePath(name);
        if (!QFileInfo::exists(path))
            return path;
    }
}

std::filesystem::path toPath(const QString& s)
{
    return std::filesystem::path(QDir::toNativeSeparators(s).toStdU16String());
}

} // namespace

// The user's existing file is replaced only once a complete copy stands beside it.
void Form2::copyWorkbookTo(const QString& target, bool replaceExisting) const
{
    if (!QFileInfo(mExcelFile).isFile())
        throw StepError(QStringLiteral("File not found: ") + mExcelFile);
    const QString pending = pendingNameFor(target);
    QFile source(mExcelFile);
    if (!source.copy(pending)) {
        const QString why = source.errorString();
        QFile::remove(pending);
        throw StepError(QStringLiteral("The file could not be written: ") + target + QStringLiteral(" (") + why
                        + QStringLiteral(")"));
    }
    if (QFileInfo::exists(target) && !replaceExisting) {
        QFile::remove(pending);
        throw StepError(QStringLiteral("File already exists: ") + target);
    }

    std::error_code ec;
    std::filesystem::rename(toPath(pending), toPath(target), ec);
    if (ec && QFileInfo::exists(target)) {
        // A read-only file refuses to be replaced on some systems: lift that and try again.
        QFile::setPermissions(target, QFileInfo(target).permissions() | QFile::WriteOwner | QFile::WriteUser);
        ec.clear();
        std::filesystem::rename(toPath(pending), toPath(target), ec);
    }
    if (ec) {
        QFile::remove(pending);
        throw StepError(QStringLiteral("The file could not be written: ") + target + QStringLiteral(" (")
                        + QString::fromLocal8Bit(ec.message().c_str()) + QStringLiteral(")"));
    }
}

void Form2::PushButton6_Click()
{
    Guard g("Form2", "PushButton6_Click");
    Dialogs::SaveRequest request;
    QString target;
    Dialogs::Answer answer = Dialogs::Answer::Ok;   // neither Yes nor No yet
    bool replaceExisting = false;

    request.fileName = QString();                             // 106
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
        copied = g.step(130, [&] { copyWorkbookTo(target, replaceExisting); });
    if (copied)
        g.step(132, [&] { Dialogs::inform(QStringLiteral("Done."), this); });
}

void Form2::PushButton8_Click()
{
    Guard g("Form2", "PushButton8_Click");
    g.step(102, [&] { DeleteScratchFile(mExcelFile); });
    g.step(104, [&] {
        if (mMainWindow)
            mMainWindow->show();
    });
    g.step(106, [&] { hide(); });
}

void Form2::Form_QueryUnload()
{
    Guard g("Form2", "Form_QueryUnload");
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
