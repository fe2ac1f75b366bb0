#pragma once
// The input sheet of the main window: the viewport Picture1 with its scroll bar VScroll1, the
// moving content Picture2, the frame Frame1 with the company row, the headings and the 462
// cells of the 33 lines. The cells hold the data; each change is stored at once, each leave
// is checked, each focus arrival scrolls the cell into view (the company name and the date
// too). The mouse wheel and the touchpad scroll the sheet, over it and over its scroll bar.
#include "core/projectioninputs.h"
#include "sheet/captionlabel.h"
#include "sheet/cellvalidation.h"
#include "sheet/datepicker.h"
#include "sheet/sheetcell.h"
#include "sheet/sheetlayout.h"

#include <QDate>
#include <QObject>

#include <array>

class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QScrollBar;
class QWheelEvent;
class QWidget;


namespace corvantis::sheet {

class LeaveGate;
class SheetEditing;

class InputSheet : public QObject, public CellFocusHandler {
    Q_OBJECT
public:
    // Builds the sheet's controls as children of `form` (its main window).
    InputSheet(QWidget* form, SettingsStore& store);
    ~InputSheet() override;

    SheetCell* txtRevenue(int line) const { return mNames.at(line); }
    SheetCell* txtInd(int line) const { return mInds.at(line); }
    SheetCell* txtYear(int month1to12, int line) const { return mMonths.at(month1to12 - 1).at(line); }
    SheetCell* txtCompanyName() const { return mCompany; }
    DatePicker* DTPicker1() const { return mDtPicker; }
    CaptionLabel* lblYear(int i) const { return mLblYear.at(i); }
    QScrollBar* VScroll1() const { return mVscroll; }
    QFrame* Picture1() const { return mPicture1; }
    QFrame* Picture2() const { return mPicture2; }
    QGroupBox* Frame1() const { return mFrame1; }
    // The cell of a line by column: 0 name, 1 IND. %, 2-13 months 1-12.
    SheetCell* cell(int line, int column) const;
    // The column of a line's cell; -1 for the company name.
    static int columnOf(const SheetCell* cell);
    // What the cells hold now.
    ProjectionInputs inputs() const;
    // The inputs in the settings store, which every change of a cell reaches at once.
    StoredInputs& storedInputs() { return mInputs; }
    // Paste, copy, undo across the sheet, the fills of a line and the keys between lines.
    SheetEditing& editing() const { return *mEditing; }

    // The twelve month captions for a fiscal year starting on `start`.
    void applyMonthHeaders(const QDate& start);
    // The caption of month column i + 1, shown whole.
    void setMonthCaption(int i, const QString& caption);
    // While held, the cells' accessible names wait: start-up changes every line's name and each
    // month's caption, and the cells are named once when it ends. Holds nest.
    void holdDescriptions();
    void releaseDescriptions();
    class DescriptionHold {
    public:
        explicit DescriptionHold(InputSheet& sheet) : mSheet(sheet) { mSheet.holdDescriptions(); }
        ~DescriptionHold() { mSheet.releaseDescriptions(); }
        DescriptionHold(const DescriptionHold&) = delete;
        DescriptionHold& operator=(const DescriptionHold&) = delete;

    private:
        InputSheet& mSheet;
    };
    // Every caption of the sheet: "Your Company Data" aside, the labels and headings.
    QList<CaptionLabel*> captions() const { return mCaptions; }

    // Scrolls by a wheel or touchpad event: three lines a notch (the desktop's lines per
    // notch), a touchpad's pixels as they come.
    void wheelScroll(QWheelEvent* e);
    // CellFocusHandler
    bool allowLeave(SheetCell* cell) override;
    void focusArrived(SheetCell* cell, Qt::FocusReason reason) override;
    bool cellKey(SheetCell* cell, QKeyEvent* e) override;
    bool wantsCellKey(SheetCell* cell, QKeyEvent* e) override;
    QMenu* cellMenu(SheetCell* cell) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CaptionLabel* heading(const QString& objectName, const QString& caption, int left, int top, int width, int height);
    CaptionLabel* plainLabel(const QString& objectName, const QString& caption, int left, int top, int width,
                             int height, int roomRight);
    void bringTopRowIntoView(QWidget* control);
    SheetCell* makeCell(CellKind kind, int column, int line, const QRect& twips, const QString& designText);
    void cellChanged(SheetCell* cell, const QString& text);
    void dateChanged(const QDate& date);
    void followFocus(SheetCell* cell);
    void moveSheetTo(int scrollValue);
    void keepHeaderInView(int scrollValue);
    void describe(int onlyColumn = -1);

    QWidget* mForm;
    StoredInputs mInputs;
    QFrame* mPicture1 = nullptr;
    QScrollBar* mVscroll = nullptr;
    QFrame* mPicture2 = nullptr;
    QGroupBox* mFrame1 = nullptr;
    SheetCell* mCompany = nullptr;
    DatePicker* mDtPicker = nullptr;
    std::array<CaptionLabel*, kMonthCount> mLblYear{};
    QList<CaptionLabel*> mCaptions;
    double mWheelTwips = 0;   // the part of a notch not scrolled yet
    std::array<SheetCell*, kLineCount> mNames{};
    std::array<SheetCell*, kLineCount> mInds{};
    std::array<std::array<SheetCell*, kLineCount>, kMonthCount> mMonths{};
    LeaveGate* mGate = nullptr;
    int mDescriptionsHeld = 0;
    bool mDescriptionsPending = false;
    SheetEditing* mEditing = nullptr;
    // The caption row above the lines (Label1, Label4, lblYear), kept in view while the lines
    // scroll under it.
    QList<CaptionLabel*> mHeaderRow;
};

} // namespace corvantis::sheet
