#pragma once
// One edit box of the main window's input: a flat box with a thin border that asks its owner
// before the focus leaves it, and tells its owner when the focus arrives. Whenever it does not
// have the focus it shows the beginning of its text, however the text was set; names are
// entered without selecting them, so a key typed on arrival never wipes a name out.
#include "sheet/cellvalidation.h"
#include "ui/controlkind.h"

#include <QLineEdit>

#include <optional>

class QMenu;

namespace corvantis::sheet {

class SheetCell;

// What the sheet does for its cells' focus events.
class CellFocusHandler {
public:
    virtual ~CellFocusHandler() = default;
    // Runs the cell's leave check; false keeps the focus in the cell.
    virtual bool allowLeave(SheetCell* cell) = 0;
    virtual void focusArrived(SheetCell* cell, Qt::FocusReason reason) = 0;
    // A key for the sheet rather than the box (paste of a block, undo across the sheet, the
    // keys that move between lines); true when it was taken.
    virtual bool cellKey(SheetCell* /*cell*/, QKeyEvent* /*e*/) { return false; }
    // True when the key must reach the cell before any shortcut of the window.
    virtual bool wantsCellKey(SheetCell* /*cell*/, QKeyEvent* /*e*/) { return false; }
    // The cell's context menu; null: the box's own.
    virtual QMenu* cellMenu(SheetCell* /*cell*/) { return nullptr; }
};

class SheetCell : public QLineEdit {
    Q_OBJECT
    // The kind of control the window's colouring and pointer rules see (ui/controlkind.h): an edit
    // box, part of the class rather than a property added to each of the hundreds of cells.
    Q_PROPERTY(int controlKind READ controlKindValue WRITE setControlKindValue)
public:
    SheetCell(CellKind kind, int line, int month, QWidget* parent);
    // A cell that starts out with its design text: no change, so no one is told of it.
    SheetCell(CellKind kind, int line, int month, const QString& designText, QWidget* parent);

    CellKind kind() const { return mKind; }
    int line() const { return mLine; }       // -1 for the company name
    int month() const { return mMonth; }     // 1-12 for month cells, 0 otherwise
    void setFocusHandler(CellFocusHandler* handler) { mHandler = handler; }
    CellFocusHandler* focusHandler() const { return mHandler; }

    // A stored text that was never read as an amount: shown as it is, in red, until it changes.
    void setUnreadable(bool unreadable);
    bool isUnreadable() const { return mUnreadable; }
    // Figures (IND. % and amounts) show whole: the font narrows, then shrinks, until the text fits.
    // The point size the text is shown at now.
    double shownPointSize() const { return font().pointSizeF(); }
    // Whether the whole text fits inside the box at the font it is shown in.
    bool showsWholeText() const;

    int controlKindValue() const { return mControlKind; }
    void setControlKindValue(int kind) { mControlKind = kind; }

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    bool focusNextPrevChild(bool next) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void showStart();
    void fitText();
    int roomForText() const;
    void describeText();
    bool mUnreadable = false;
    bool mFitting = false;
    std::optional<QFont> mDesignFont;
    struct Fitted {
        QString text;
        int room;
        QFont font;
    };
    std::optional<Fitted> mFitted;   // what was last fitted, and the font it got
    CellKind mKind;
    int mLine;
    int mMonth;
    CellFocusHandler* mHandler = nullptr;
    int mControlKind = static_cast<int>(ControlKind::TextBox);
};

} // namespace corvantis::sheet
