#pragma once
// The preview picture's context menu: "Copy Picture", "Save as Excel Workbook (.xlsx)…",
// "Export as PDF…" and "Print…", with their usual shortcuts on the preview window. It is
// attached from outside, so the preview window's own buttons and layout stay as they are.
#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QPoint;
class QPrinter;
class QWidget;

namespace corvantis {

class Form2;

class PreviewMenu : public QObject {
    Q_OBJECT
public:
    // Owned by the window; lives as long as it does.
    explicit PreviewMenu(Form2& form2);

    QMenu* menu() const { return mMenu; }
    QAction* copyPicture() const { return mCopy; }
    QAction* saveXlsx() const { return mSaveXlsx; }
    QAction* exportPdf() const { return mExportPdf; }
    QAction* print() const { return mPrint; }

    // Test seam: what asks the user for a printer. The default shows the system's print dialog
    // and returns whether the user chose to print.
    using PrintDialog = std::function<bool(QPrinter& printer, QWidget* parent)>;
    static void setPrintDialog(PrintDialog dialog);

    void CopyPicture_Click();
    void SaveXlsx_Click();
    void ExportPdf_Click();
    void Print_Click();

private:
    void showAt(const QPoint& position);
    // The file the user picks for an export, with its extension added when typed without;
    // empty when cancelled or when an existing file is to be kept.
    QString askTarget(const QString& title, const QString& filter, const QString& extension);
    // Runs a write of the file `target`; a failure the user can mend is told in a plain box.
    // True when the file was written.
    bool writeFile(const QString& target, const std::function<void()>& write);

    Form2& mForm2;
    QMenu* mMenu = nullptr;
    QAction* mCopy = nullptr;
    QAction* mSaveXlsx = nullptr;
    QAction* mExportPdf = nullptr;
    QAction* mPrint = nullptr;
};

// Attaches the menu to the preview window's picture; returns it (owned by the window).
PreviewMenu* installPreviewMenu(Form2& form2);

} // namespace corvantis
