#include "core/settingsstore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace corvantis {

QString cellSettingKey(const QString& control, int line)
{
    if (control == QLatin1String("txtYear1") && line >= 10 && line <= 29)
        return QStringLiteral("txtYear1_") + QString::number(line);
    return control + QString::number(line);
}

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

QString SettingsStore::fileName() const
{
    return mSettings->fileName();
}

QString SettingsStore::existingKey(const QString& key) const
{
    if (mSettings->contains(key))
        return key;
    const QStringList keys = mSettings->childKeys();
    for (const QString& k : keys) {
        if (k.compare(key, Qt::CaseInsensitive) == 0)
            return k;
    }
    return QString();
}

void SettingsStore::SaveSetting(const QString& application, const QString& section, const QString& key,
                                const QString& value)
{
    Q_UNUSED(application);   // one store per application: this object is the Kestrelon store
    mSettings->beginGroup(section);
    const QString stored = existingKey(key);
    mSettings->setValue(stored.isEmpty() ? key : stored, value);
    mSettings->endGroup();
    if (mBatchDepth == 0)
        mSettings->sync();
}

SettingsStore::Batch::~Batch()
{
    if (--mStore.mBatchDepth == 0)
        mStore.mSettings->sync();
}

QString SettingsStore::GetSetting(const QString& application, const QString& section, const QString& key,
                                  const QString& defaultValue) const
{
    Q_UNUSED(application);
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
