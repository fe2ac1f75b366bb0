#include "sheet/sheethistory.h"

#include <QUndoCommand>

namespace corvantis::sheet {

class SheetStep : public QUndoCommand {
public:
    SheetStep(SheetHistory& history, const QString& label, std::vector<InputChange> changes)
        : QUndoCommand(label), mHistory(history), mChanges(std::move(changes))
    {
    }
    void undo() override { mHistory.write(mChanges, false); }
    void redo() override
    {
        // Pushing runs redo once; the step was made before it was recorded.
        if (!mHistory.mPushing)
            mHistory.write(mChanges, true);
    }

private:
    SheetHistory& mHistory;
    std::vector<InputChange> mChanges;
};

SheetHistory::SheetHistory(Writer writer, Frame frame) : mWriter(std::move(writer)), mFrame(std::move(frame))
{
    mStack.setUndoLimit(0);   // the history lasts for the session
}

bool SheetHistory::record(const QString& label, std::vector<InputChange> changes)
{
    std::erase_if(changes, [](const InputChange& c) { return c.before == c.after; });
    if (changes.empty())
        return false;
    mPushing = true;
    mStack.push(new SheetStep(*this, label, std::move(changes)));
    mPushing = false;
    return true;
}

void SheetHistory::undo()
{
    if (mStack.canUndo())
        mStack.undo();
}

void SheetHistory::redo()
{
    if (mStack.canRedo())
        mStack.redo();
}

void SheetHistory::write(const std::vector<InputChange>& changes, bool forward)
{
    auto run = [&] {
        // Backwards on undo, so a step that changed one input twice ends at its first text.
        if (forward) {
            for (const InputChange& c : changes)
                mWriter(c.spot, c.after);
        } else {
            for (auto it = changes.rbegin(); it != changes.rend(); ++it)
                mWriter(it->spot, it->before);
        }
    };
    if (mFrame)
        mFrame(run);
    else
        run();
}

} // namespace corvantis::sheet
