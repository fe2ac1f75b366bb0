#pragma once
// The preview window: the picture of the generated sheet with zoom and panning, saving a copy of
// the generated workbook, going back to the inputs, and the end of the program.
#include "preview/zoompan.h"

#include <QFutureWatcher>
#include <QPixmap>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QGroupBox;
class QPushButton;
class QScrollBar;
class QWheelEvent;

namespace corvantis {

class PictureBox;
class PointerRules;
class SettingsStore;
class SheetDrawing;

class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);
    ~Form2() override;

    // Handed over by the generator before the window is shown.
    void setPicture(const QPixmap& picture);
    void setExcelFile(const QString& path);
    QString excelFile() const { return mExcelFile; }
    // The main window, shown again on "< Back".
    void setMainWindow(QWidget* form1) { mMainWindow = form1; }
    // Where the folder of the last save is kept; null: the user's store.
    void setSettingsStore(SettingsStore* store) { mStore = store; }

    // Event procedures.
    void Form_Load();
    void Form_Activate();
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton6_Click();
    void PushButton8_Click();
    void Form_QueryUnload();
    void picture1_MouseDown(Qt::MouseButtons buttons, float x, float y);
    void picture1_MouseMove(Qt::MouseButtons buttons, float x, float y);
    void Picture1_MouseUp(Qt::MouseButtons buttons, float x, float y);
    void HScroll1_Change();
    void VScroll1_Change();

    // Homes the picture and sets range and unit of both scroll bars for Picture1's current size.
    void ResetScrollBars();
    static void SetHScrollbarByPercent(QScrollBar* bar, int percent);
    static void SetVScrollbarByPercent(QScrollBar* bar, int percent);

    // Zoom, sizes and scroll units of what the window shows.
    const ZoomPan& view() const { return mView; }
    // The picture on screen; the other controls are found by their design names.
    PictureBox* Picture1() const { return mPicture1; }

protected:
    void changeEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void createShortcuts();
    void resetToUnscaled();   // zoom 1 and the unscaled picture's sizes
    // Repaints Picture1 at `factor`: smoothly scaled from the unscaled picture in Zoom_Ori at
    // 100 % and below, drawn again from the workbook above (and on high-density screens). A
    // factor whose picture would exceed the pixel budget is refused: the zoom stays at the
    // factor on screen and nothing else changes. Returns whether it was painted.
    bool RedrawImage(float factor);
    // direction 0: larger, anything else: smaller.
    void ZoomStep(int direction);
    void ApplyZoom(float factor);
    void showZoomed(int widthPixels, int heightPixels);
    bool openDrawing();
    void describePicture(const QString& path);
    void setBarSteps();
    QPointF viewCentre() const;
    void centreOn(const QPointF& share);
    void wheel(QWheelEvent* event, Qt::Orientation plainAxis);
    void panBy(double horizontalTwips, double verticalTwips);
    void copyWorkbookTo(const QString& target, bool replaceExisting) const;
    QString saveDialogFolder() const;
    SettingsStore& store() const;

    PictureBox* mPicture2 = nullptr;
    PictureBox* mPicture1 = nullptr;
    PictureBox* mZoom_Ori = nullptr;
    QScrollBar* mVScroll1 = nullptr;
    QScrollBar* mHScroll1 = nullptr;
    QGroupBox* mFrame1 = nullptr;
    QPushButton* mPushButton1 = nullptr;
    QPushButton* mPushButton2 = nullptr;
    QPushButton* mPushButton6 = nullptr;
    QPushButton* mPushButton8 = nullptr;

    QString mExcelFile;   // full path of the generated scratch workbook
    QFutureWatcher<QString> mDescribing;   // the workbook's description for screen readers, being made
    QPointer<QWidget> mMainWindow;
    SettingsStore* mStore = nullptr;
    std::unique_ptr<PointerRules> mPointer;
    std::shared_ptr<SheetDrawing> mDrawing;   // the workbook behind the picture, opened when first needed
    bool mDrawingFailed = false;              // it would not open: the snapshot is scaled instead
    bool mPlaced = false;
    ZoomPan mView;
};

} // namespace corvantis
