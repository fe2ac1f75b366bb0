#pragma once
// The per-user settings store: one string per key, all under the application "Kestrelon" and
// the section "Corvantis". On Linux an INI file (Kestrelon/Corvantis.ini under $XDG_CONFIG_HOME,
// else ~/.config), every key in the group "Corvantis"; on Windows the native store.
// Every write is flushed at once, so nothing typed is lost when the program is killed. A store
// that cannot be written is said once per store (its file and the reason); typing goes on, and
// the values stay readable for as long as the program runs.
#include <QHash>
#include <QLocale>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QSettings;

namespace corvantis {

inline constexpr const char* kSettingsApplication = "Kestrelon";
inline constexpr const char* kSettingsSection = "Corvantis";
// The key that names the locale the stored texts (amounts, IND. %, the fiscal date) were
// written in, as LocaleName() gives it.
inline constexpr const char* kLocaleKey = "Locale";

class SettingsStore {
public:
    // The store in a given INI file (tests, other folders).
    explicit SettingsStore(const QString& iniFilePath);
    enum class Format { Ini, Native };
    SettingsStore(const QString& path, Format format);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The user's store; opened on first use, so the configuration folder is read then.
    static SettingsStore& standard();
    // $XDG_CONFIG_HOME (else ~/.config) + "/Kestrelon/Corvantis.ini"
    static QString defaultFilePath();

    // Creates or overwrites one value and writes it to disk before returning.
    void SaveSetting(const QString& application, const QString& section, const QString& key, const QString& value);
    // The stored value, or the default when the key is absent. Keys match without regard to case.
    QString GetSetting(const QString& application, const QString& section, const QString& key,
                       const QString& defaultValue) const;

    // The program's own section.
    void save(const QString& key, const QString& value) { SaveSetting(programName(), sectionName(), key, value); }
    QString get(const QString& key, const QString& defaultValue) const
    {
        return GetSetting(programName(), sectionName(), key, defaultValue);
    }

    QString fileName() const;

    // The locale named under "Locale": the one the stored texts were written in. nullopt for a
    // store without the key (written before the key existed), whose texts are read as today.
    std::optional<QLocale> textsLocale() const;

    // Why the store's file cannot be written, in a few words ("permission denied"); empty when
    // nothing is known to stand in the way.
    QString writeProblem() const;
    // Whether a failed write has already been told to the user.
    bool writeFailureTold() const { return mWriteFailureTold; }

    // Holds the disk writes back while it lives and writes everything once at its end. For
    // work that runs before any input is handled (start-up, the example data), where one
    // write instead of hundreds keeps the window quick.
    class Batch {
    public:
        explicit Batch(SettingsStore& store) : mStore(store) { ++mStore.mBatchDepth; }
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        SettingsStore& mStore;
    };

private:
    // kSettingsApplication and kSettingsSection as strings, made once: start-up reads hundreds of keys.
    static const QString& programName();
    static const QString& sectionName();
    QString existingKey(const QString& key) const;   // the stored spelling of a key, or empty
    // While a batch is open nothing is synced, so the file is not read again either: the values
    // of a section are taken into memory once, and reads and writes of its plain keys use them.
    // False for a key that the copy does not cover (no batch, a key with a path in it).
    bool batchCopy(const QString& section, const QString& key) const;
    void flush();                                    // writes to disk; tells a failure once
    std::unique_ptr<QSettings> mSettings;
    mutable QHash<QString, QString> mKeyIndex;   // case-folded key -> its stored spelling
    mutable QString mKeyIndexGroup;
    mutable bool mKeyIndexValid = false;
    mutable QHash<QString, QVariant> mBatchValues;   // stored spelling -> value, while a batch is open
    mutable QString mBatchGroup;
    mutable bool mBatchValuesValid = false;
    int mBatchDepth = 0;
    bool mWriteFailureTold = false;
};

} // namespace corvantis
