#include "core/safefile.h"

#include "core/guard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <optional>

#ifdef Q_OS_WIN
#include <algorithm>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvantis {

namespace {

// Bytes are handed to the system in pieces of this size; a streaming writer's many small
// writes would otherwise each be a system call.
constexpr qsizetype kChunk = 64 * 1024;

QString systemReason(int error)
{
    return qt_error_string(error);
}

#ifdef Q_OS_WIN
std::wstring nativeName(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}
int openExclusive(const QString& path, bool ownerOnly)
{
    Q_UNUSED(ownerOnly);   // Windows files carry no mode bits to narrow
    int fd = -1;
    const errno_t e = _wsopen_s(&fd, nativeName(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                                _SH_DENYRW, _S_IREAD | _S_IWRITE);
    if (e != 0) {
        errno = e;
        return -1;
    }
    return fd;
}
long writeSome(int fd, const char* data, qsizetype size)
{
    return ::_write(fd, data, unsigned(std::min<qsizetype>(size, 1 << 30)));
}
int syncToDisk(int fd)
{
    return ::_commit(fd);
}
int closeFile(int fd)
{
    return ::_close(fd);
}
void removeFile(const QString& path)
{
    ::_wunlink(nativeName(path).c_str());
}
#else
QByteArray nativeName(const QString& path)
{
    return encodeFileName(path);
}
int openExclusive(const QString& path, bool ownerOnly)
{
    // O_EXCL never follows a link planted under the temporary's name. While it fills, a
    // temporary that will replace a file is the owner's alone: the old file's mode is given to
    // it at the end, and it must not show more to others meanwhile than the old one did.
    return ::open(nativeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0666);
}
long writeSome(int fd, const char* data, qsizetype size)
{
    return long(::write(fd, data, size_t(size)));
}
int syncToDisk(int fd)
{
#ifdef Q_OS_LINUX
    return ::fdatasync(fd);
#else
    return ::fsync(fd);
#endif
}
int closeFile(int fd)
{
    return ::close(fd);
}
void removeFile(const QString& path)
{
    ::unlink(nativeName(path).constData());
}
// The folder's entry of the renamed file reaches the disk too; a folder that cannot be
// synced (some network file systems) does not make the write a failure.
void syncFolder(const QString& folder)
{
    const int fd = ::open(nativeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
#endif

// Why a file system object at the target is not replaced, or an empty text for a plain file
// or none at all. The target itself is examined, never what a link at it points to.
QString notAPlainFile(const QString& path)
{
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    const bool link = info.isSymLink(), folder = info.isDir(), other = info.exists() && !info.isFile();
#else
    struct stat st {};
    if (::lstat(nativeName(path).constData(), &st) != 0)
        return {};
    const bool link = S_ISLNK(st.st_mode), folder = S_ISDIR(st.st_mode), other = !S_ISREG(st.st_mode);
#endif
    if (link)
        return QStringLiteral("it is a link to another file; the program replaces only a plain file");
    if (folder)
        return QStringLiteral("it is a folder");
    if (other)
        return QStringLiteral("it is not a plain file");
    return {};
}

// Whether anything (a link included) stands at the path.
bool somethingAt(const QString& path)
{
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
#else
    struct stat st {};
    return ::lstat(nativeName(path).constData(), &st) == 0;
#endif
}

// A name beside the target, hidden, that says whose temporary it is. A long target name is cut
// so that the temporary's name stays within the system's limit.
QString temporaryNameFor(const QString& target)
{
    const QFileInfo info(target);
    return QDir(info.absolutePath())
        .filePath(QStringLiteral(".") + info.fileName().left(120) + QStringLiteral(".")
                  + QString::number(QRandomGenerator::global()->generate(), 16) + QStringLiteral(".part"));
}

} // namespace

// The open temporary: bytes are held up to a chunk and then handed to the system; the first
// error the system gives is kept for the message.
class SafeFile::Device : public QIODevice {
public:
    explicit Device(int fd) : mFd(fd) { QIODevice::open(QIODevice::WriteOnly); }
    ~Device() override { release(); }

    bool isSequential() const override { return true; }
    int fd() const { return mFd; }
    int failure() const { return mFailure; }

    // Hands every held byte to the system; false (with failure() set) when it refuses.
    bool drain()
    {
        const bool written = writeAll(mHeld.constData(), mHeld.size());
        mHeld.clear();
        return written;
    }
    // Closes the file; the close's own error (a full disk may only show here) or 0.
    int release()
    {
        if (mFd < 0)
            return 0;
        const int result = closeFile(mFd);
        mFd = -1;
        return result == 0 ? 0 : errno;
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        if (mFailure != 0 || mFd < 0)
            return -1;
        // A large piece goes to the system as it is, without a copy.
        if (size >= kChunk)
            return drain() && writeAll(data, qsizetype(size)) ? size : -1;
        mHeld.append(data, qsizetype(size));
        if (mHeld.size() >= kChunk && !drain())
            return -1;
        return size;
    }

private:
    bool writeAll(const char* data, qsizetype size)
    {
        qsizetype done = 0;
        while (mFailure == 0 && done < size) {
            const long n = writeSome(mFd, data + done, size - done);
            if (n > 0)
                done += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else
                mFailure = n < 0 ? errno : EIO;
        }
        return mFailure == 0;
    }

private:
    int mFd;
    int mFailure = 0;
    QByteArray mHeld;
};

QString SafeFile::failureText(const QString& path, const QString& why)
{
    return QStringLiteral("\"%1\" cannot be written: %2").arg(QDir::toNativeSeparators(path), why);
}

void SafeFile::checkTarget(const QString& path)
{
    if (path.isEmpty())
        throw WriteError(QStringLiteral("No file name was given"));
    const QString refused = notAPlainFile(path);
    if (!refused.isEmpty())
        throw WriteError(failureText(path, refused));
    const QString folderName = QFileInfo(path).absolutePath();
    const QString folderPath = QDir::toNativeSeparators(folderName);
#ifdef Q_OS_WIN
    const QFileInfo folder(folderName);
    if (!folder.exists())
        throw WriteError(failureText(path, QStringLiteral("the folder %1 does not exist").arg(folderPath)));
    if (!folder.isDir())
        throw WriteError(failureText(path, QStringLiteral("%1 is not a folder").arg(folderPath)));
#else
    struct stat st {};
    if (::stat(nativeName(folderName).constData(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT)
            throw WriteError(failureText(path, QStringLiteral("the folder %1 does not exist").arg(folderPath)));
        throw WriteError(failureText(path, QStringLiteral("the folder %1 cannot be reached (%2)").arg(folderPath, systemReason(error))));
    }
    if (!S_ISDIR(st.st_mode))
        throw WriteError(failureText(path, QStringLiteral("%1 is not a folder").arg(folderPath)));
    if (::access(nativeName(folderName).constData(), W_OK | X_OK) != 0) {
        const int error = errno;
        throw WriteError(failureText(path, QStringLiteral("the folder %1 cannot be written to (%2)").arg(folderPath, systemReason(error))));
    }
#endif
}

bool SafeFile::isReadOnly(const QString& path)
{
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    return info.exists() && !info.isWritable();
#else
    const QByteArray name = nativeName(path);
    struct stat st {};
    return ::lstat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::access(name.constData(), W_OK) != 0;
#endif
}

SafeFile::SafeFile(const QString& path, Existing existing, Durability durability)
    : mPath(path), mExisting(existing), mDurability(durability)
{
    checkTarget(path);
    const bool replacing = somethingAt(path);
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        const QString temporary = temporaryNameFor(path);
        fd = openExclusive(temporary, replacing);
        if (fd >= 0)
            mTemporary = temporary;
        else if (errno != EEXIST || attempt >= 100)
            throw WriteError(failureText(path, systemReason(errno)));
    }
    mDevice = std::make_unique<Device>(fd);
}

SafeFile::~SafeFile()
{
    discard();
}

QIODevice& SafeFile::device()
{
    return *mDevice;
}

void SafeFile::reserve(qint64 bytes)
{
#ifdef __linux__
    if (mDevice && mDevice->fd() >= 0 && bytes > 0)
        (void)::fallocate(mDevice->fd(), 0, 0, off_t(bytes));
#else
    Q_UNUSED(bytes);
#endif
}

void SafeFile::write(const QByteArray& bytes)
{
    if (mTemporary.isEmpty())
        fail(QStringLiteral("the file was already finished"));
    if (mDevice->write(bytes) != bytes.size())
        fail(mDevice->failure() != 0 ? systemReason(mDevice->failure()) : mDevice->errorString());
}

void SafeFile::discard()
{
    if (mDevice)
        mDevice->release();
    if (!mTemporary.isEmpty())
        removeFile(mTemporary);
    mTemporary.clear();
}

void SafeFile::fail(const QString& why)
{
    discard();
    throw WriteError(failureText(mPath, why));
}

void SafeFile::commit()
{
    if (mTemporary.isEmpty())
        fail(QStringLiteral("the file was already finished"));
    if (!mDevice->drain())
        fail(systemReason(mDevice->failure()));

    // Whatever stands at the target now (it may have changed while the bytes were written).
    const QString refused = notAPlainFile(mPath);
    if (!refused.isEmpty())
        fail(refused);
    if (mExisting == Existing::Keep && somethingAt(mPath))
        fail(QStringLiteral("a file of that name already exists"));

#ifndef Q_OS_WIN
    struct stat old {};
    if (::lstat(nativeName(mPath).constData(), &old) == 0) {
        // The owner first: a change of owner clears the set-user-ID bits that the mode restores.
        // Only root may give a file away; anyone else keeps at least the group where allowed.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            if (::fchown(mDevice->fd(), old.st_uid, old.st_gid) != 0)
                (void)::fchown(mDevice->fd(), uid_t(-1), old.st_gid);
        }
        if (::fchmod(mDevice->fd(), old.st_mode & 07777) != 0)
            fail(systemReason(errno));
    }
#endif
    if (mDurability == Durability::Synced && syncToDisk(mDevice->fd()) != 0)
        fail(systemReason(errno));
    if (const int closed = mDevice->release(); closed != 0)
        fail(systemReason(closed));

#ifdef Q_OS_WIN
    const std::wstring from = nativeName(mTemporary), to = nativeName(mPath);
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (mExisting == Existing::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
    bool moved = ::MoveFileExW(from.c_str(), to.c_str(), flags);
    if (!moved) {
        // A read-only file refuses to be replaced here: the mark is lifted for the move and
        // given to the new file, as the mode is kept elsewhere.
        const DWORD attributes = ::GetFileAttributesW(to.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)
            && ::SetFileAttributesW(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
            moved = ::MoveFileExW(from.c_str(), to.c_str(), flags);
            if (moved)
                ::SetFileAttributesW(to.c_str(), ::GetFileAttributesW(to.c_str()) | FILE_ATTRIBUTE_READONLY);
            else
                ::SetFileAttributesW(to.c_str(), attributes);
        }
    }
    if (!moved)
        fail(qt_error_string(int(::GetLastError())));
#else
    const QByteArray from = nativeName(mTemporary), to = nativeName(mPath);
    int renamed = -1;
#ifdef RENAME_NOREPLACE
    if (mExisting == Existing::Keep) {
        // Checked above, but a file may appear in between: the system refuses atomically.
        renamed = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        if (renamed != 0 && errno == EEXIST)
            fail(QStringLiteral("a file of that name already exists"));
        if (renamed != 0 && errno != EINVAL && errno != ENOSYS)
            fail(systemReason(errno));
    }
#endif
    if (renamed != 0 && ::rename(from.constData(), to.constData()) != 0)
        fail(systemReason(errno));
    if (mDurability == Durability::Synced)
        syncFolder(QFileInfo(mPath).absolutePath());
#endif
    mTemporary.clear();
}

#ifdef Q_OS_WIN
QByteArray encodeFileName(const QString& name)
{
    return name.toUtf8();
}
QString decodeFileName(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}
#else
namespace {

// The bytes of `text` converted by iconv from one character set to another; nullopt when the
// text does not fit the target set or the conversion is unknown.
std::optional<QByteArray> convert(const QByteArray& text, const char* to, const char* from)
{
    iconv_t cd = ::iconv_open(to, from);
    if (cd == iconv_t(-1))
        return std::nullopt;
    QByteArray out(text.size() * 4 + 16, Qt::Uninitialized);
    char* in = const_cast<char*>(text.constData());
    size_t inLeft = size_t(text.size());
    char* at = out.data();
    size_t outLeft = size_t(out.size());
    const size_t done = ::iconv(cd, &in, &inLeft, &at, &outLeft);
    ::iconv_close(cd);
    if (done == size_t(-1) || inLeft != 0)
        return std::nullopt;
    out.truncate(out.size() - qsizetype(outLeft));
    return out;
}

// The character set of the user's file names: the locale's, unless that is UTF-8 already.
const char* fileNameCharset()
{
    const char* set = ::nl_langinfo(CODESET);
    if (!set || !*set || QByteArray(set).compare("UTF-8", Qt::CaseInsensitive) == 0
        || QByteArray(set).compare("utf8", Qt::CaseInsensitive) == 0)
        return nullptr;
    return set;
}

} // namespace

QByteArray encodeFileName(const QString& name)
{
    if (const char* set = fileNameCharset())
        if (const std::optional<QByteArray> bytes = convert(name.toUtf8(), set, "UTF-8"))
            return *bytes;
    return QFile::encodeName(name);
}

QString decodeFileName(const QByteArray& bytes)
{
    if (const char* set = fileNameCharset())
        if (const std::optional<QByteArray> text = convert(bytes, "UTF-8", set))
            return QString::fromUtf8(*text);
    return QFile::decodeName(bytes);
}
#endif

void writeWholeFile(const QString& path, const QByteArray& bytes, Durability durability)
{
    SafeFile file(path, SafeFile::Existing::Replace, durability);
    file.write(bytes);
    file.commit();
}

} // namespace corvantis
