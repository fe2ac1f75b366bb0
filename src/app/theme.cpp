#include "app/theme.h"

#include "core/programfolder.h"
#include "ui/controlkind.h"
#include "ui/windowcolours.h"

#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include <stdexcept>

namespace corvantis {

void ApplyMainTheme(QWidget& form)
{
    const QString skin = skinFilePath();
    if (!QFileInfo(skin).isFile())
        return;   // without a skin the window keeps its white design

    setBackColour(&form, buttonFace());
    const auto children = form.findChildren<QWidget*>();
    for (QWidget* w : children) {
        const ControlKind kind = controlKind(w);
        const bool colourable = kind == ControlKind::OptionButton || kind == ControlKind::CheckBox
            || kind == ControlKind::Frame || kind == ControlKind::Label || kind == ControlKind::PictureBox;
        if (!colourable)
            continue;
        if (kind == ControlKind::Label && isGreyHeading(w))
            continue;   // the sheet's headings stay grey
        setBackColour(w, buttonFace());
    }

    QFile file(skin);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("The skin file could not be read: " + skin.toStdString());
    form.setStyleSheet(QString::fromUtf8(file.readAll()));
}

} // namespace corvantis
