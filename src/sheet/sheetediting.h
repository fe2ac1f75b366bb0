#pragma once
// Data entry across the sheet: paste of spreadsheet blocks, copy of a line, undo and redo of
// every committed change, the fills of a line, and the keys that move between lines. The sheet
// hands its cells' keys, context menus, commits and focus arrivals here; every change goes
// through the cells (which store what they are given) and the history records it as one step.
#include "sheet/sheethistory.h"

#include <QDate>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QKeyEvent;
class QMenu;

namespace corvantis::sheet {

class InputSheet;
class SheetCell;

class SheetEditing : public QObject {
    Q_OBJECT
public:
    explicit SheetEditing(InputSheet& sheet);

    SheetHistory& history() { return mHistory; }
    // Until the window has loaded its inputs nothing is recorded.
    void startRecording();
    bool isRecording() const { return mRecording; }

    // Asks for one value (a total, a percentage); nullopt when cancelled. Tests answer it.
    using Ask = std::function<std::optional<QString>(const QString& title, const QString& label, const QString& initial)>;
    void setAsk(Ask ask) { mAsk = std::move(ask); }

    // What the sheet tells: a cell got the focus, a cell's leave check ran (it may have changed
    // the text), the picker's date changed.
    void cellEntered(SheetCell* cell);
    void cellCommitted(SheetCell* cell);
    void dateChanged(const QDate& date);

    // A key pressed in a cell; true when it was taken here. wantsKey: the cell must let the key
    // reach it rather than a shortcut of the window.
    bool cellKey(SheetCell* cell, QKeyEvent* e);
    static bool wantsKey(const SheetCell* cell, const QKeyEvent* e);
    // The context menu of a cell, filled with the sheet's commands (the caller shows it).
    QMenu* cellMenu(SheetCell* cell);

    void undo();
    void redo();
    bool canUndo() const { return mHistory.canUndo(); }
    bool canRedo() const { return mHistory.canRedo(); }

    // Pastes a clipboard text from `cell` on. A single value is typed into the cell instead
    // (false: nothing was done here). Values a cell refuses are skipped and counted; the user is
    // told once.
    bool paste(SheetCell* cell, const QString& text);
    // The line of `line` as a spreadsheet row, and on the clipboard.
    QString lineText(int line) const;
    void copyLine(int line);

    // The fills of a month cell's line; each is one step.
    void fillSameAmount(SheetCell* cell);
    void spreadYearlyTotal(SheetCell* cell, const QString& totalText);
    void growEachMonth(SheetCell* cell, const QString& percentText);
    void clearLine(int line);
    // The same, asking for the total or the percentage first.
    void askSpreadYearlyTotal(SheetCell* cell);
    void askGrowEachMonth(SheetCell* cell);

    // Runs a change of many inputs (the example data) and records it as one step.
    void asOneStep(const QString& label, const std::function<void()>& change);

private:
    struct Snapshot;
    void write(const InputSpot& spot, const QString& text);
    void applyChanges(const QString& label, const std::vector<InputChange>& changes);
    void recordPending();
    void moveVertically(SheetCell* cell, int delta);
    void restoreFocusText(SheetCell* cell);
    QString textAt(const InputSpot& spot) const;
    std::optional<QString> validMonthText(SheetCell* cell);

    InputSheet& mSheet;
    SheetHistory mHistory;
    Ask mAsk;
    bool mRecording = false;
    bool mQuiet = false;            // changes made here: the sheet's own notices are not steps
    QDate mDate;                    // the date the picker had before its last change
    QPointer<SheetCell> mCurrent;   // the cell the focus last arrived in
    QString mFocusText;             // its text then, for Escape
    QString mCommitted;             // its text as last recorded
};

} // namespace corvantis::sheet
