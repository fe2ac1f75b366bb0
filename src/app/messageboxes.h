#pragma once
// The real boxes behind the program's dialog interface: Qt's message box and save dialog.
#include "core/dialogs.h"

namespace corvantis {

class MessageBoxes : public Dialogs::Backend {
public:
    Dialogs::Answer message(const Dialogs::Shown& box, QWidget* parent) override;
    QString saveFile(const Dialogs::SaveRequest& request, QWidget* parent) override;
};

} // namespace corvantis
