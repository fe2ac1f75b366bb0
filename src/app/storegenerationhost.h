#pragma once
// Generation without windows: the inputs come from the settings store, read the way the main
// window reads them at start-up, and the hand-over to the preview window only records the
// workbook's path.
#include "workbook/templatefilling.h"

#include <QDate>
#include <QString>

#include <array>
#include <functional>

namespace corvantis {

class SettingsStore;

class StoreGenerationHost : public GenerationHost {
public:
    // `today` is the date the main window's date picker shows when no date is stored.
    explicit StoreGenerationHost(const SettingsStore& store, QDate today = QDate::currentDate());

    // True when the store holds not a single input of the main window.
    static bool isEmptyStore(const SettingsStore& store);

    QString companyName() const override { return mCompany; }
    QDate fiscalStart() const override { return mStart; }
    QString cellText(int line, int column) const override;
    void setPointer(Pointer) override {}
    void freezeDrawing(bool) override {}
    void loadPreviewPicture(const QString&) override {}
    void setPreviewExcelFile(const QString& path) override { mExcelFile = path; }
    void showPreview() override {}
    void hideMain() override {}

    // The workbook generation saved; empty until the hand-over.
    QString excelFile() const { return mExcelFile; }

private:
    static constexpr int kLines = 33;
    static constexpr int kColumns = 14;
    QString mCompany;
    QDate mStart;
    std::array<std::array<QString, kColumns>, kLines> mCells;
    QString mExcelFile;
};

} // namespace corvantis
