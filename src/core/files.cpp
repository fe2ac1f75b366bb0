#include "core/files.h"

#include "core/guard.h"
#include "core/safefile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include "spreadsheet/sidethreads.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvantis {

namespace {

QString& folderOverride()
{
    static QString folder;
    return folder;
}

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

#ifdef Q_OS_UNIX
bool ownedByUs(const QFileInfo& info)
{
    return info.ownerId() == uint(::geteuid());
}
#else
bool ownedByUs(const QFileInfo&)
{
    return true;
}
#endif

// Creates the folder with owner-only permissions, or checks that an existing one is a real
// folder of ours and tightens its permissions. False when the folder cannot be trusted.
bool makePrivateFolder(const QString& path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return false;
    QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        const QFileInfo parentInfo(info.absolutePath());
        if (!parentInfo.isDir() && !QDir().mkpath(info.absolutePath()))
            return false;
        if (!QDir().mkdir(path, kOwnerOnly) && !QFileInfo(path).isDir())
            return false;
        info = QFileInfo(path);
    }
    if (info.isSymLink() || !info.isDir() || !ownedByUs(info))
        return false;
    constexpr QFile::Permissions kOthers = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    if (info.permissions() & kOthers)
        return QFile::setPermissions(path, kOwnerOnly);
    return true;
}

QString privateScratchFolder()
{
    // Preferred: below the user's cache folder, which only the user can reach.
    // Without a home folder Qt would name one below the root folder: not ours, so skip it.
    const bool haveHome = QDir::homePath() != QDir::rootPath();
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (haveHome && !cache.isEmpty()) {
        const QString folder = QDir(cache).filePath(QStringLiteral("corvantis"));
        if (makePrivateFolder(folder))
            return folder;
    }
    // Otherwise one folder per user in the system's temporary folder.
#ifdef Q_OS_UNIX
    const QString suffix = QString::number(uint(::geteuid()));
#else
    const QString suffix = qEnvironmentVariable("USERNAME", QStringLiteral("user"));
#endif
    const QString base = QDir(QDir::tempPath()).filePath(QStringLiteral("corvantis-") + suffix);
    if (makePrivateFolder(base))
        return base;
    // Someone else holds that name: pick a fresh one beside it.
    for (int i = 1; i < 100; ++i) {
        const QString candidate = base + QLatin1Char('-') + QString::number(i);
        if (makePrivateFolder(candidate))
            return candidate;
    }
    return QDir::tempPath();
}

} // namespace

QString ScratchFolder()
{
    if (!folderOverride().isEmpty())
        return folderOverride();
    const QString temp = qEnvironmentVariable("TEMP");
    if (!temp.isEmpty())
        return temp;
    return privateScratchFolder();
}

void setScratchFolderOverride(const QString& folder)
{
    folderOverride() = folder;
}

QString ScratchPath(const QString& fileName)
{
    return QDir(ScratchFolder()).filePath(fileName);
}

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

void WriteBytesToFile(const QByteArray& bytes, const QString& path)
{
    writeWholeFile(path, bytes, Durability::Scratch);
}

bool IsScratchFile(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).absoluteDir() == QDir(ScratchFolder());
}

namespace {

// The system gives a file's pages back when its name is gone and its last descriptor closes,
// which for a picture of megabytes takes as long as writing a good part of it. A descriptor
// held across the removal and closed on a side thread moves that work off the caller's thread;
// the name is gone from the folder at the same moment as before. -1 for anything other than a
// large plain file.
int holdLargeFile(const QString& path)
{
#ifdef Q_OS_UNIX
    constexpr off_t kLarge = off_t(1) << 20;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= kLarge)
        return fd;
    ::close(fd);
#else
    Q_UNUSED(path);
#endif
    return -1;
}

void closeBeside(int fd)
{
#ifdef Q_OS_UNIX
    if (fd < 0)
        return;
    try {
        ss::runBeside(0, [fd] { ::close(fd); });
    } catch (...) {
        ::close(fd);
    }
#else
    Q_UNUSED(fd);
#endif
}

} // namespace

void DeleteScratchFile(const QString& path)
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    try {
        if (path.isEmpty())
            return;
        const int held = holdLargeFile(path);
        const bool removed = QFile::remove(path);
        closeBeside(held);
        if (removed)
            return;
        ForceDeleteFile(path);
    } catch (...) {
        // The caller never learns whether the file is gone; a leftover stays in the scratch folder.
    }
}

void ForceDeleteFile(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || (!info.exists() && !info.isSymLink()))
        throw StepError(QStringLiteral("File not found"));

    if (!info.isSymLink())
        QFile::setPermissions(path, info.permissions() | QFile::WriteOwner | QFile::WriteUser);
    if (QFile::remove(path))
        return;

    // The folder entry itself may be protected: open the folder for a moment.
    const QString folder = info.absolutePath();
    const QFile::Permissions folderPermissions = QFileInfo(folder).permissions();
    bool removed = false;
    if (!(folderPermissions & QFile::WriteOwner) && QFile::setPermissions(folder, folderPermissions | QFile::WriteOwner)) {
        removed = QFile::remove(path);
        QFile::setPermissions(folder, folderPermissions);
    }
    if (!removed)
        throw StepError(QStringLiteral("Permission denied: ") + path);
}

} // namespace corvantis
