#pragma once
// Real file-system faults for the fault tests: a tiny tmpfs that fills up, a read-only mount and
// immutable files. Each one is undone when its object goes, so a failing test leaves nothing
// mounted or locked behind. Tests run as root, so plain permission bits stop nothing.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/stat.h>
#include <sys/resource.h>

namespace faultkit {

// Runs a system tool; false with its output in *why when it fails.
inline bool run(const QString& program, const QStringList& args, QString* why = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ok = p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok && why)
        *why = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ")
            + QString::fromLocal8Bit(p.readAll()).trimmed() + p.errorString();
    return ok;
}

// A tmpfs of the given size mounted on a fresh folder below `parent`.
class Tmpfs {
public:
    Tmpfs(const QString& parent, const QString& size) : dir_(QDir(parent).filePath(QStringLiteral("tmpfs")))
    {
        QDir().mkpath(dir_);
        mounted_ = run(QStringLiteral("mount"),
                       {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=") + size,
                        QStringLiteral("tmpfs"), dir_},
                       &why_);
    }
    ~Tmpfs()
    {
        if (mounted_)
            run(QStringLiteral("umount"), {QStringLiteral("-l"), dir_});
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;

    bool mounted() const { return mounted_; }
    QString why() const { return why_; }
    QString path() const { return dir_; }
    QString filePath(const QString& name) const { return QDir(dir_).filePath(name); }
    bool makeReadOnly() { return run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), dir_}, &why_); }

private:
    QString dir_;
    QString why_;
    bool mounted_ = false;
};

// chattr +i on a file or folder for the object's lifetime.
class Immutable {
public:
    explicit Immutable(const QString& path) : path_(path)
    {
        on_ = run(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}, &why_);
    }
    ~Immutable()
    {
        if (on_)
            run(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
    }
    Immutable(const Immutable&) = delete;
    Immutable& operator=(const Immutable&) = delete;

    bool on() const { return on_; }
    QString why() const { return why_; }

private:
    QString path_;
    QString why_;
    bool on_ = false;
};

inline QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}

// Everything in a folder, hidden names included, for before/after comparisons.
inline QStringList listing(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Bytes the file really occupies on disk.
inline qint64 diskUsage(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return qint64(st.st_blocks) * 512;
}

// The peak resident size of this process so far, in bytes.
inline qint64 peakResident()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

} // namespace faultkit
