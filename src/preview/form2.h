#pragma once
// The preview window: the picture of the generated sheet with zoom and panning, saving a copy of
// the generated workbook, going back to the inputs, and the end of the program.
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
    QWidget* mainWindow() const { return mMainWindow; }
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

    // Repaints Picture1 at mZoom: smoothly scaled from the unscaled picture in Zoom_Ori at 100 %
    // and below, drawn again from the workbook above (and on high-density screens). A factor
    // whose picture would exceed the pixel budget is refused: mZoom goes back to the factor on
    // screen and nothing else changes. Returns whether the factor was painted.
    bool RedrawImage();
    // Homes the picture and sets range and unit of both scroll bars for Picture1's current size.
    void ResetScrollBars();
    // direction 0: larger, anything else: smaller.
    void ZoomStep(int direction);
    void ApplyZoom(float factor);
    static void SetHScrollbarByPercent(QScrollBar* bar, int percent);
    static void SetVScrollbarByPercent(QScrollBar* bar, int percent);

    // The most device pixels the painted picture may hold: twice the largest projection on a
    // screen of twice the usual density fits with room to spare. Settable for tests.
    static qint64 pictureBudget();
    static void setPictureBudget(qint64 pixels);

    // Read access to the window's state.
    float zoom() const { return mZoom; }
    int baseWidth() const { return mBaseWidth; }
    int baseHeight() const { return mBaseHeight; }
    int zoomWidth() const { return mZoomWidth; }
    int zoomHeight() const { return mZoomHeight; }
    int hStep() const { return mHStep; }
    int vStep() const { return mVStep; }
    bool firstActivatePending() const { return mFirstActivate; }
    PointerRules& pointerRules() { return *mPointer; }

    // The controls, by their design names.
    PictureBox* Picture2() const { return mPicture2; }
    PictureBox* Picture1() const { return mPicture1; }
    PictureBox* Zoom_Ori() const { return mZoom_Ori; }
    QScrollBar* VScroll1() const { return mVScroll1; }
    QScrollBar* HScroll1() const { return mHScroll1; }
    QGroupBox* Frame1() const { return mFrame1; }
    QPushButton* PushButton1() const { return mPushButton1; }
    QPushButton* PushButton2() const { return mPushButton2; }
    QPushButton* PushButton6() const { return mPushButton6; }
    QPushButton* PushButton8() const { return mPushButton8; }

protected:
    void changeEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void createShortcuts();
    void resetToUnscaled();   // zoom 1 and the unscaled picture's sizes
    void showZoomed(int widthPixels, int heightPixels);
    bool openDrawing();
    void setBarSteps();
    int rowTwips() const;   // about one sheet row at the current zoom
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
    QPointer<QWidget> mMainWindow;
    SettingsStore* mStore = nullptr;
    std::unique_ptr<PointerRules> mPointer;
    std::shared_ptr<SheetDrawing> mDrawing;   // the workbook behind the picture, opened when first needed
    bool mDrawingFailed = false;              // it would not open: the snapshot is scaled instead
    bool mFirstActivate = true;
    bool mPlaced = false;
    float mZoom = 1.0f;
    float mPaintedZoom = 1.0f;   // the factor of the picture on screen
    int mBaseWidth = 0;
    int mBaseHeight = 0;
    int mZoomWidth = 0;
    int mZoomHeight = 0;
    int mHStep = 0;
    int mVStep = 0;
    float mDownX = 0;
    float mDownY = 0;
    QPointF mPanRest;   // twips of wheel and touchpad movement not yet a whole scroll unit
    int mZoomWheel = 0; // Ctrl+wheel turn not yet a whole notch
};

} // namespace corvantis
