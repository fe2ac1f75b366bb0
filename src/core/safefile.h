#pragma once
// Every file the program writes for the user (a saved copy, an export, the command line's
// output) and its own scratch files are written whole or not at all, through here.
#include <QByteArray>
#include <QString>

#include <memory>

#include "core/guard.h"

class QIODevice;

namespace corvantis {

// A file the user named cannot be written: the folder is missing or closed to them, the disk
// is full, a folder or a link stands at the name. The user can mend it and try again, so it is
// told plainly rather than reported as a fault of the program.
class WriteError : public StepError {
public:
    using StepError::StepError;
};

// The file at `path` written whole or not at all: the bytes go to a temporary file in the
// target's folder (created exclusively, readable by the owner alone while it fills), are
// flushed to disk and renamed over the target, which stays untouched until that moment and
// after any failure. A replaced file keeps its permission bits and, where the process may
// (root), its owner and group; a new file gets the usual mode of new files.
//
// Only a plain file is replaced. A symbolic link, a folder or a device standing at the target
// is refused: writing through a link would let a planted link aim the program's output at any
// file, and silently turning the user's own link into a file is no better.
//
// Every failure throws corvantis::WriteError with a message that names the user's file (never
// the temporary) and the system's reason: "report.xls" cannot be written: No space left on device
// How long a written file must last. The user's files wait for the disk before they replace
// anything; the program's scratch files (the template, the generated workbook and its picture,
// which the next generation makes again) are still written whole and renamed into place, but do
// not wait for the disk.
enum class Durability { Synced, Scratch };

class SafeFile {
public:
    enum class Existing { Replace, Keep };   // Keep: fail at commit if the target has appeared

    explicit SafeFile(const QString& path, Existing existing = Existing::Replace,
                      Durability durability = Durability::Synced);
    ~SafeFile();   // without commit the temporary goes and the target is untouched
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    QIODevice& device();                  // open for writing, for streaming writers (QPdfWriter)
    void write(const QByteArray& bytes);
    // Sets the room for a file of `bytes` aside on the disk at once, where the file system can,
    // so that a large file is not given its blocks a few at a time as it is written. Only a
    // head start: where the system cannot, nothing happens, and a disk without the room fails
    // at the write as before.
    void reserve(qint64 bytes);
    void commit();                        // the target is replaced now

    // The checks the constructor makes, for callers that want to refuse a target before doing
    // any costly work: an empty name, a missing or unwritable folder, a link, a folder or any
    // other non-plain file at the target.
    static void checkTarget(const QString& path);
    // Whether a plain file at `path` is one the process may not write (marked read-only).
    static bool isReadOnly(const QString& path);
    // `"path" cannot be written: why`: the one wording of a failed write.
    static QString failureText(const QString& path, const QString& why);

private:
    class Device;
    [[noreturn]] void fail(const QString& why);
    void discard();

    QString mPath;        // the target as the user named it
    QString mTemporary;   // the file being filled; empty once renamed or removed
    Existing mExisting;
    Durability mDurability;
    std::unique_ptr<Device> mDevice;
};

// `bytes` as the whole content of the file at `path`; throws WriteError as SafeFile does.
void writeWholeFile(const QString& path, const QByteArray& bytes, Durability durability = Durability::Synced);

// A file name as the system takes it and gives it: in the character set of the user's locale
// (ISO-8859-1 names stay ISO-8859-1 bytes), where Qt itself would always assume UTF-8.
QByteArray encodeFileName(const QString& name);
QString decodeFileName(const QByteArray& bytes);

} // namespace corvantis
