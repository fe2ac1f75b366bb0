#pragma once
// Small file routines for the scratch files of a generation.
#include <QByteArray>
#include <QString>

namespace corvantis {

// The scratch folder: the TEMP environment variable when it is set; otherwise a private
// per-user folder created with owner-only permissions. Tests inject another folder.
QString ScratchFolder();
void setScratchFolderOverride(const QString& folder);   // empty = back to the rule above
QString ScratchPath(const QString& fileName);           // the folder joined with the name

// True when the file's last-modified time can be read; any error (empty path included) gives false.
bool FileExists(const QString& path);
// Writes a scratch file's bytes with no header, whole or not at all (see SafeFile), without
// waiting for the disk; throws corvantis::StepError when it cannot.
void WriteBytesToFile(const QByteArray& bytes, const QString& path);
// Whether `path` names a file in the scratch folder.
bool IsScratchFile(const QString& path);
// Lets pending events run, deletes the file, falls back to a forced delete; never fails, never reports.
void DeleteScratchFile(const QString& path);
// Deletes even a read-only file; throws corvantis::StepError when it cannot.
void ForceDeleteFile(const QString& path);

} // namespace corvantis
