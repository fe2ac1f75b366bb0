#include "core/settingsstore.h"

#include "core/dialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStorageInfo>

namespace corvantis {

QString SettingsStore::defaultFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QLatin1Char('/') + QLatin1String(kSettingsApplication) + QLatin1Char('/')
        + QLatin1String(kSettingsSection) + QStringLiteral(".ini");
}

SettingsStore::SettingsStore(const QString& iniFilePath) : SettingsStore(iniFilePath, Format::Ini) {}

SettingsStore::SettingsStore(const QString& path, Format format)
    : mSettings(std::make_unique<QSettings>(path, format == Format::Ini ? QSettings::IniFormat : QSettings::NativeFormat))
{
}

SettingsStore::~SettingsStore() = default;

SettingsStore& SettingsStore::standard()
{
#ifdef Q_OS_WIN
    static SettingsStore store([] {
        // The native store: HKEY_CURRENT_USER\Software\Kestrelon\Corvantis
        return QStringLiteral("HKEY_CURRENT_USER\\Software\\") + QLatin1String(kSettingsApplication)
            + QLatin1Char('\\') + QLatin1String(kSettingsSection);
    }(), Format::Native);
#else
    static SettingsStore store(defaultFilePath());
#endif
    return store;
}

const QString& SettingsStore::programName()
{
    static const QString name = QLatin1String(kSettingsApplication);
    return name;
}

const QString& SettingsStore::sectionName()
{
    static const QString name = QLatin1String(kSettingsSection);
    return name;
}

QString SettingsStore::fileName() const
{
    return mSettings->fileName();
}

bool SettingsStore::batchCopy(const QString& section, const QString& key) const
{
    if (mBatchDepth == 0 || key.contains(QLatin1Char('/')) || key.contains(QLatin1Char('\\')))
        return false;
    if (!mBatchValuesValid || mBatchGroup != section) {
        mBatchValues.clear();
        mKeyIndex.clear();
        mSettings->beginGroup(section);
        const QStringList keys = mSettings->childKeys();
        for (const QString& k : keys) {
            mBatchValues.insert(k, mSettings->value(k));
            mKeyIndex.insert(k.toCaseFolded(), k);
        }
        mKeyIndexGroup = mSettings->group();
        mKeyIndexValid = true;
        mSettings->endGroup();
        mBatchGroup = section;
        mBatchValuesValid = true;
    }
    return true;
}

QString SettingsStore::existingKey(const QString& key) const
{
    if (mSettings->contains(key))
        return key;
    // A key stored in another spelling: the group's keys are listed once and looked up by their
    // case-folded form, not listed again for every key a fresh store does not hold.
    const QString group = mSettings->group();
    if (!mKeyIndexValid || mKeyIndexGroup != group) {
        mKeyIndex.clear();
        const QStringList keys = mSettings->childKeys();
        for (const QString& k : keys)
            mKeyIndex.insert(k.toCaseFolded(), k);
        mKeyIndexGroup = group;
        mKeyIndexValid = true;
    }
    return mKeyIndex.value(key.toCaseFolded());
}

void SettingsStore::SaveSetting(const QString& application, const QString& section, const QString& key,
                                const QString& value)
{
    Q_UNUSED(application);   // one store per application: this object is the Kestrelon store
    if (batchCopy(section, key)) {
        // The same decisions as below, made on the copy in memory.
        QString stored = mBatchValues.contains(key) ? key : mKeyIndex.value(key.toCaseFolded());
        if (const auto current = mBatchValues.constFind(stored); current != mBatchValues.cend()) {
            if (current->typeId() == QMetaType::QString && current->toString() == value)
                return;
        } else {
            stored = key;
            mKeyIndex.insert(key.toCaseFolded(), key);
        }
        mSettings->beginGroup(section);
        mSettings->setValue(stored, value);
        mSettings->endGroup();
        mBatchValues.insert(stored, QVariant(value));
        return;   // written to disk when the batch ends
    }
    mSettings->beginGroup(section);
    const QString stored = existingKey(key);
    // A value that is already stored as it stands is not written again: the file is left alone.
    if (!stored.isEmpty()) {
        const QVariant current = mSettings->value(stored);
        if (current.typeId() == QMetaType::QString && current.toString() == value) {
            mSettings->endGroup();
            return;
        }
    }
    mSettings->setValue(stored.isEmpty() ? key : stored, value);
    if (stored.isEmpty())
        mKeyIndexValid = false;   // a new key: listed again when a spelling is next looked up
    mSettings->endGroup();
    if (mBatchDepth == 0)
        flush();
}

SettingsStore::Batch::~Batch()
{
    if (--mStore.mBatchDepth == 0)
        mStore.flush();
}

void SettingsStore::flush()
{
    mSettings->sync();
    mKeyIndexValid = false;   // another copy of the program may have written keys of its own
    mBatchValuesValid = false;
    mBatchValues.clear();
    if (mSettings->status() == QSettings::NoError || mWriteFailureTold)
        return;
    // Said once: a box on every keystroke would stop the typing it cannot save.
    mWriteFailureTold = true;
    QString reason = writeProblem();
    if (reason.isEmpty())
        reason = mSettings->status() == QSettings::FormatError ? QStringLiteral("its contents cannot be read back")
                                                               : QStringLiteral("the file cannot be written");
    Dialogs::inform(QStringLiteral("Your entries cannot be saved. The settings file \"%1\" cannot be written: %2.\n\n"
                                   "You can go on typing, but what you type now will be lost when the program ends.")
                        .arg(QDir::toNativeSeparators(fileName()), reason));
}

QString SettingsStore::writeProblem() const
{
    const QFileInfo file(fileName());
    if (!file.isAbsolute())
        return QString();   // the native store: no file of ours
    const QString folder = file.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        // Its folder is missing and cannot be made: find what stands in the way.
        QString path = folder;
        while (!QFileInfo::exists(path) && QFileInfo(path).absolutePath() != path)
            path = QFileInfo(path).absolutePath();
        const QFileInfo blocker(path);
        if (!blocker.isDir())
            return QStringLiteral("its folder cannot be created, because \"%1\" is a file, not a folder")
                .arg(QDir::toNativeSeparators(path));
        if (!blocker.isWritable())
            return QStringLiteral("its folder cannot be created inside \"%1\" (permission denied)")
                .arg(QDir::toNativeSeparators(path));
        return QString();   // nothing known stands in the way of making it
    }
    if (file.exists() && file.isDir())
        return QStringLiteral("a folder of that name is in the way");
    if (file.exists() && !file.isWritable())
        return QStringLiteral("the file is read-only (permission denied)");
    if (!QFileInfo(folder).isWritable())
        return QStringLiteral("its folder \"%1\" cannot be written to (permission denied)")
            .arg(QDir::toNativeSeparators(folder));
    const QStorageInfo volume(folder);
    if (volume.isValid() && volume.isReadOnly())
        return QStringLiteral("the disk is read-only");
    if (volume.isValid() && volume.bytesAvailable() == 0)
        return QStringLiteral("the disk is full");
    return QString();
}

std::optional<QLocale> SettingsStore::textsLocale() const
{
    const QString name = get(QLatin1String(kLocaleKey), QString()).trimmed();
    if (name.isEmpty())
        return std::nullopt;
    return QLocale(name);
}

QString SettingsStore::GetSetting(const QString& application, const QString& section, const QString& key,
                                  const QString& defaultValue) const
{
    Q_UNUSED(application);
    if (batchCopy(section, key)) {
        auto found = mBatchValues.constFind(key);
        if (found == mBatchValues.cend()) {
            const QString stored = mKeyIndex.value(key.toCaseFolded());
            if (stored.isEmpty())
                return defaultValue;
            found = mBatchValues.constFind(stored);
        }
        const QVariant& v = *found;
        return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QStringLiteral(", ")) : v.toString();
    }
    mSettings->beginGroup(section);
    const QString stored = existingKey(key);
    QString value = defaultValue;
    if (!stored.isEmpty()) {
        // A hand-edited INI line with unquoted commas reads back as a list: take it as written.
        const QVariant v = mSettings->value(stored);
        value = v.typeId() == QMetaType::QStringList ? v.toStringList().join(QStringLiteral(", ")) : v.toString();
    }
    mSettings->endGroup();
    return value;
}

} // namespace corvantis
