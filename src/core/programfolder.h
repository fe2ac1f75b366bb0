#pragma once
// The files the program reads beside itself.
#include <QString>

namespace corvantis {

QString programFolder();                 // the folder of the running executable
QString skinFilePath();                  // programFolder() + "/x/o.cjs"
QString handCursorPath();                // programFolder() + "/HAND-M.CUR"

} // namespace corvantis
