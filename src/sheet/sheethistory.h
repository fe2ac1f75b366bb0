#pragma once
// The input sheet's history of changes, for undo and redo across the whole sheet. A step is a
// list of inputs with their text before and after: one committed cell, one paste, one fill, a
// new fiscal start, the example data. Undoing writes the "before" texts back through a writer
// (the sheet, whose cells store what they are given), redoing the "after" texts. No widgets: the
// history is tested on its own with a writer of plain texts.
#include <QString>
#include <QUndoStack>

#include <functional>
#include <vector>

namespace corvantis::sheet {

// An input of the sheet: a line's cell (column 0 name, 1 IND. %, 2..13 months), or, on line -1,
// the company name (column 0) or the fiscal start (column 1, its text as ISO date).
struct InputSpot {
    int line = -1;
    int column = 0;

    static InputSpot companyName() { return {-1, 0}; }
    static InputSpot fiscalStart() { return {-1, 1}; }
    bool isCell() const { return line >= 0; }
    bool operator==(const InputSpot&) const = default;
};

struct InputChange {
    InputSpot spot;
    QString before;
    QString after;
};

class SheetHistory {
public:
    // Writes one input's text; called for every change of a step that is undone or redone.
    using Writer = std::function<void(const InputSpot&, const QString&)>;
    // Runs a whole undo or redo: the writes happen inside it (the sheet holds the store's disk
    // writes and its own recording while it runs).
    using Frame = std::function<void(const std::function<void()>&)>;

    explicit SheetHistory(Writer writer, Frame frame = {});

    // Records a step whose changes have already been made. Changes whose texts are equal are
    // dropped; a step with nothing left is not recorded. Returns whether it was recorded.
    bool record(const QString& label, std::vector<InputChange> changes);

    bool canUndo() const { return mStack.canUndo(); }
    bool canRedo() const { return mStack.canRedo(); }
    QString undoText() const { return mStack.undoText(); }
    QString redoText() const { return mStack.redoText(); }
    void undo();
    void redo();
    int count() const { return mStack.count(); }
    QUndoStack& stack() { return mStack; }

private:
    friend class SheetStep;
    void write(const std::vector<InputChange>& changes, bool forward);

    Writer mWriter;
    Frame mFrame;
    QUndoStack mStack;
    bool mPushing = false;
};

} // namespace corvantis::sheet
