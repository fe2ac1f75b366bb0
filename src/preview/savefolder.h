#pragma once
// Where the save dialogs of the preview open: the folder the user last saved to, else their
// Documents folder, never whatever folder the program happens to run in. Every kind of save
// (the .xls copy, the .xlsx workbook, the PDF) shares it.
#include <QString>

namespace corvantis {

class SettingsStore;

QString saveDialogStartFolder(SettingsStore& store);
// Records the folder of a file just saved.
void rememberSaveFolder(SettingsStore& store, const QString& savedFile);

} // namespace corvantis
