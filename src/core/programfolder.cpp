#include "core/programfolder.h"

#include <QCoreApplication>
#include <QDir>

namespace corvantis {

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString skinFilePath()
{
    return QDir(programFolder()).filePath(QStringLiteral("x/o.cjs"));
}

QString handCursorPath()
{
    return QDir(programFolder()).filePath(QStringLiteral("HAND-M.CUR"));
}

} // namespace corvantis
