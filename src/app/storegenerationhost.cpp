#include "app/storegenerationhost.h"

#include "core/numbertext.h"
#include "core/settingsstore.h"
#include "sheet/monthheaders.h"
#include "sheet/sheetlayout.h"

namespace corvantis {

namespace {

QString controlOfColumn(int column)
{
    if (column == 0)
        return QStringLiteral("txtRevenue");
    if (column == 1)
        return QStringLiteral("txtInd");
    return sheet::monthControlName(column - 1);
}

} // namespace

StoreGenerationHost::StoreGenerationHost(const SettingsStore& store, QDate today)
{
    // As the main window's start-up: a missing value keeps the control's design value, an
    // unreadable date keeps today's, an unreadable amount shows as zero.
    // Texts written under another locale are read in that one, as the main window reads them.
    const std::optional<QLocale> writtenIn = store.textsLocale();
    const bool otherLocale = writtenIn && LocaleName(*writtenIn) != LocaleName(QLocale());
    mCompany = store.get(QStringLiteral("txtCompanyName"), QString());
    mStart = today;
    const QString storedDate = store.get(QStringLiteral("DTPicker1"), QString());
    if (!storedDate.isNull()) {
        QDate date = otherLocale ? sheet::dateFromSetting(storedDate, *writtenIn) : QDate();
        if (!date.isValid())
            date = sheet::dateFromSetting(storedDate);
        if (date.isValid() && date >= QDate(1601, 1, 1) && date <= sheet::kLastDate)
            mStart = date;
    }
    for (int line = 0; line < kLines; ++line) {
        mCells[line][0] = store.get(cellSettingKey(controlOfColumn(0), line), sheet::designName(line));
        mCells[line][1] = store.get(cellSettingKey(controlOfColumn(1), line), QStringLiteral("0"));
        for (int column = 2; column < kColumns; ++column) {
            const QString stored = store.get(cellSettingKey(controlOfColumn(column), line), QStringLiteral("0"));
            try {
                mCells[line][column] = otherLocale ? FormatStoredAmount(stored, 2, *writtenIn) : FormatAmount(stored, 2);
            } catch (...) {
                mCells[line][column] = FormatAmount(QStringLiteral("0"), 2);
            }
        }
    }
}

bool StoreGenerationHost::isEmptyStore(const SettingsStore& store)
{
    auto stored = [&](const QString& key) { return !store.get(key, QString()).isNull(); };
    if (stored(QStringLiteral("txtCompanyName")) || stored(QStringLiteral("DTPicker1")))
        return false;
    for (int line = 0; line < kLines; ++line)
        for (int column = 0; column < kColumns; ++column)
            if (stored(cellSettingKey(controlOfColumn(column), line)))
                return false;
    return true;
}

QString StoreGenerationHost::cellText(int line, int column) const
{
    if (line < 0 || line >= kLines || column < 0 || column >= kColumns)
        return {};
    return mCells[static_cast<std::size_t>(line)][static_cast<std::size_t>(column)];
}

} // namespace corvantis
