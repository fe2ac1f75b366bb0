#include "app/messageboxes.h"

#include <QFileDialog>
#include <QMessageBox>

namespace corvantis {

Dialogs::Answer MessageBoxes::message(const Dialogs::Shown& shown, QWidget* parent)
{
    const bool yesNo = shown.buttons == Dialogs::Buttons::YesNo;
    QMessageBox box(shown.icon == Dialogs::Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, shown.caption,
                    shown.text, yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
    const int r = box.exec();
    if (yesNo)
        return r == QMessageBox::Yes ? Dialogs::Answer::Yes : Dialogs::Answer::No;
    return Dialogs::Answer::Ok;
}

QString MessageBoxes::saveFile(const Dialogs::SaveRequest& request, QWidget* parent)
{
    return QFileDialog::getSaveFileName(parent, request.title, request.fileName, request.filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

} // namespace corvantis
