#include "sheet/sheetediting.h"

#include "core/dialogs.h"
#include "core/numbertext.h"
#include "core/settingsstore.h"
#include "sheet/cellvalidation.h"
#include "sheet/inputsheet.h"
#include "sheet/linefill.h"
#include "sheet/pastetext.h"

#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

namespace corvantis::sheet {

namespace {

const QString kDateForm = QStringLiteral("yyyy-MM-dd");

enum class Command { None, Undo, Redo, Paste, Copy, Down, Up, Escape, Same, Spread, Grow, Clear };

// The keys of the sheet's commands. Fixed keys rather than the platform's bindings, so Ctrl+Y
// and Ctrl+Shift+Z both redo everywhere.
Command commandOf(const QKeyEvent* e)
{
    const Qt::KeyboardModifiers mods = e->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    const int key = e->key();
    const bool ctrl = mods == Qt::ControlModifier;
    const bool ctrlShift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
    if (ctrl && key == Qt::Key_Z)
        return Command::Undo;
    if ((ctrl && key == Qt::Key_Y) || (ctrlShift && key == Qt::Key_Z))
        return Command::Redo;
    if ((ctrl && key == Qt::Key_V) || (mods == Qt::ShiftModifier && key == Qt::Key_Insert))
        return Command::Paste;
    if ((ctrl && key == Qt::Key_C) || (ctrl && key == Qt::Key_Insert))
        return Command::Copy;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (mods == Qt::NoModifier)
            return Command::Down;
        if (mods == Qt::ShiftModifier)
            return Command::Up;
    }
    if (mods == Qt::NoModifier && key == Qt::Key_Down)
        return Command::Down;
    if (mods == Qt::NoModifier && key == Qt::Key_Up)
        return Command::Up;
    if (mods == Qt::NoModifier && key == Qt::Key_Escape)
        return Command::Escape;
    if (ctrl && key == Qt::Key_R)
        return Command::Same;
    if (ctrlShift && key == Qt::Key_Y)
        return Command::Spread;
    if (ctrlShift && key == Qt::Key_G)
        return Command::Grow;
    if (ctrlShift && key == Qt::Key_Delete)
        return Command::Clear;
    return Command::None;
}

bool isFill(Command c)
{
    return c == Command::Same || c == Command::Spread || c == Command::Grow || c == Command::Clear;
}

QString plural(int n, const char* one, const char* many)
{
    return QString::number(n) + QLatin1Char(' ') + QString::fromLatin1(n == 1 ? one : many);
}

} // namespace

SheetEditing::SheetEditing(InputSheet& sheet)
    : QObject(&sheet)
    , mSheet(sheet)
    , mHistory([this](const InputSpot& spot, const QString& text) { write(spot, text); },
               [this](const std::function<void()>& run) {
                   SettingsStore::Batch batch(mSheet.storedInputs().store());
                   const bool quiet = mQuiet;
                   mQuiet = true;
                   run();
                   mQuiet = quiet;
               })
{
    mAsk = [this](const QString& title, const QString& label, const QString& initial) -> std::optional<QString> {
        bool ok = false;
        QWidget* parent = mCurrent ? mCurrent->window() : nullptr;
        const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, &ok);
        if (!ok)
            return std::nullopt;
        return text;
    };
}

void SheetEditing::startRecording()
{
    mRecording = true;
    mDate = mSheet.DTPicker1()->date();
    if (mCurrent) {
        mFocusText = mCurrent->text();
        mCommitted = mFocusText;
    }
}

QString SheetEditing::textAt(const InputSpot& spot) const
{
    if (spot.isCell())
        return mSheet.cell(spot.line, spot.column)->text();
    if (spot == InputSpot::companyName())
        return mSheet.txtCompanyName()->text();
    return mSheet.DTPicker1()->date().toString(kDateForm);
}

void SheetEditing::write(const InputSpot& spot, const QString& text)
{
    if (spot == InputSpot::fiscalStart()) {
        const QDate date = QDate::fromString(text, kDateForm);
        if (date.isValid())
            mSheet.DTPicker1()->setDate(date);   // stores it and relabels the months
        mDate = mSheet.DTPicker1()->date();
        return;
    }
    SheetCell* cell = spot.isCell() ? mSheet.cell(spot.line, spot.column) : mSheet.txtCompanyName();
    if (cell->text() != text)
        cell->setText(text);   // the cell's change stores it
    if (cell == mCurrent) {
        // The cell in use now holds this text as committed; Escape goes back to it.
        mFocusText = text;
        mCommitted = text;
        if (cell->hasFocus() && cell->kind() != CellKind::LineName && cell->kind() != CellKind::CompanyName)
            cell->selectAll();
    }
}

void SheetEditing::cellEntered(SheetCell* cell)
{
    if (mCurrent && mCurrent != cell)
        recordPending();   // a cell left without its check (the program moved the focus)
    mCurrent = cell;
    mFocusText = cell->text();
    mCommitted = mFocusText;
}

void SheetEditing::cellCommitted(SheetCell* cell)
{
    if (cell != mCurrent) {
        cellEntered(cell);
        return;
    }
    recordPending();
}

void SheetEditing::recordPending()
{
    if (!mCurrent || mQuiet)
        return;
    const QString now = mCurrent->text();
    if (now == mCommitted)
        return;
    if (mRecording) {
        const InputSpot spot = mCurrent->kind() == CellKind::CompanyName
            ? InputSpot::companyName()
            : InputSpot{mCurrent->line(), InputSheet::columnOf(mCurrent)};
        mHistory.record(QStringLiteral("Typing"), {{spot, mCommitted, now}});
    }
    mCommitted = now;
}

void SheetEditing::dateChanged(const QDate& date)
{
    const QDate before = mDate;
    mDate = date;
    if (!mRecording || mQuiet || !before.isValid() || before == date)
        return;
    mHistory.record(QStringLiteral("Fiscal Year Begins"),
                    {{InputSpot::fiscalStart(), before.toString(kDateForm), date.toString(kDateForm)}});
}

void SheetEditing::undo()
{
    recordPending();
    mHistory.undo();
}

void SheetEditing::redo()
{
    recordPending();
    mHistory.redo();
}

void SheetEditing::applyChanges(const QString& label, const std::vector<InputChange>& changes)
{
    recordPending();
    {
        // Everything reaches the store at once, as one typed cell does.
        SettingsStore::Batch batch(mSheet.storedInputs().store());
        const bool quiet = mQuiet;
        mQuiet = true;
        for (const InputChange& c : changes)
            write(c.spot, c.after);
        mQuiet = quiet;
    }
    mHistory.record(label, changes);
}

bool SheetEditing::paste(SheetCell* cell, const QString& text)
{
    if (cell->kind() == CellKind::CompanyName)
        return false;
    const std::vector<QStringList> rows = splitClipboardRows(text);
    if (isSingleValue(rows)) {
        // One value goes into the cell as typed, without the line break a spreadsheet adds.
        cell->insert(rows.empty() ? QString() : rows.front().value(0));
        return true;
    }
    const PastePlacement placed = placeRows(rows, cell->line(), InputSheet::columnOf(cell));
    std::vector<InputChange> changes;
    int refused = 0;
    for (const PastePlacement::Target& t : placed.targets) {
        if (t.text.isEmpty())
            continue;   // an empty spreadsheet cell leaves the cell as it is
        SheetCell* target = mSheet.cell(t.line, t.column);
        LeaveDecision d;
        try {
            d = leaveDecision(target->kind(), t.text);
        } catch (const std::exception&) {
            d.allowed = false;
        }
        if (!d.allowed) {
            ++refused;
            continue;
        }
        changes.push_back({{t.line, t.column}, target->text(), d.replacement.value_or(t.text)});
    }
    applyChanges(QStringLiteral("Paste"), changes);
    if (refused + placed.outside > 0) {
        QStringList parts;
        if (refused > 0)
            parts << plural(refused, "value was not valid for its cell", "values were not valid for their cells");
        if (placed.outside > 0)
            parts << plural(placed.outside, "value fell outside the sheet", "values fell outside the sheet");
        Dialogs::inform(QStringLiteral("Not everything was pasted: ") + parts.join(QStringLiteral(" and "))
                            + QStringLiteral(". Those cells keep their text."),
                        cell->window());
    }
    return true;
}

QString SheetEditing::lineText(int line) const
{
    QStringList amounts;
    for (int m = 1; m <= kMonthCount; ++m)
        amounts << mSheet.txtYear(m, line)->text();
    return lineAsRow(mSheet.txtRevenue(line)->text(), mSheet.txtInd(line)->text(), amounts);
}

void SheetEditing::copyLine(int line)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(lineText(line));
}

std::optional<QString> SheetEditing::validMonthText(SheetCell* cell)
{
    const LeaveDecision d = leaveDecision(cell->kind(), cell->text());
    if (!d.allowed) {
        Dialogs::inform(d.message, cell->window());
        return std::nullopt;
    }
    return d.replacement.value_or(cell->text());
}

void SheetEditing::fillSameAmount(SheetCell* cell)
{
    const std::optional<QString> amount = validMonthText(cell);
    if (!amount)
        return;
    std::vector<InputChange> changes;
    for (int m = cell->month(); m <= kMonthCount; ++m)
        changes.push_back({{cell->line(), monthColumn(m)}, mSheet.txtYear(m, cell->line())->text(), *amount});
    applyChanges(QStringLiteral("Same amount every month"), changes);
}

void SheetEditing::spreadYearlyTotal(SheetCell* cell, const QString& totalText)
{
    const std::optional<long long> total = IsNumeric(totalText) ? amountCents(totalText) : std::nullopt;
    if (!total) {
        Dialogs::inform(QStringLiteral("Please enter a valid amount."), cell->window());
        return;
    }
    const std::vector<long long> shares = spreadOverMonths(*total);
    std::vector<InputChange> changes;
    for (int m = 1; m <= kMonthCount; ++m)
        changes.push_back({{cell->line(), monthColumn(m)}, mSheet.txtYear(m, cell->line())->text(),
                           FormatAmount(centsAsTypedText(shares[size_t(m - 1)]), 2)});
    applyChanges(QStringLiteral("Spread a yearly total"), changes);
}

void SheetEditing::growEachMonth(SheetCell* cell, const QString& percentText)
{
    QString typed = percentText.trimmed();
    if (typed.endsWith(QLatin1Char('%')))
        typed.chop(1);
    const std::optional<double> percent = IsNumeric(typed) ? NumericValue(typed) : std::nullopt;
    if (!percent) {
        Dialogs::inform(QStringLiteral("Please enter a valid number."), cell->window());
        return;
    }
    const std::optional<QString> amount = validMonthText(cell);
    if (!amount)
        return;
    const std::optional<long long> start = amountCents(*amount);
    if (!start) {
        Dialogs::inform(QStringLiteral("Please enter a valid amount."), cell->window());
        return;
    }
    const std::vector<long long> values = growByPercent(*start, *percent, kMonthCount - cell->month() + 1);
    std::vector<InputChange> changes;
    for (int m = cell->month(); m <= kMonthCount; ++m)
        changes.push_back({{cell->line(), monthColumn(m)}, mSheet.txtYear(m, cell->line())->text(),
                           m == cell->month() ? *amount
                                              : FormatAmount(centsAsTypedText(values[size_t(m - cell->month())]), 2)});
    applyChanges(QStringLiteral("Grow by a percentage each month"), changes);
}

void SheetEditing::clearLine(int line)
{
    const QString zero = FormatAmount(QStringLiteral("0"), 2);
    std::vector<InputChange> changes;
    for (int m = 1; m <= kMonthCount; ++m)
        changes.push_back({{line, monthColumn(m)}, mSheet.txtYear(m, line)->text(), zero});
    applyChanges(QStringLiteral("Clear line"), changes);
}

void SheetEditing::askSpreadYearlyTotal(SheetCell* cell)
{
    QPointer<SheetCell> guarded(cell);
    long long sum = 0;
    for (int m = 1; m <= kMonthCount; ++m)
        sum += amountCents(mSheet.txtYear(m, cell->line())->text()).value_or(0);
    const std::optional<QString> total = mAsk(QStringLiteral("Spread a yearly total"),
                                              QStringLiteral("Yearly total, divided over the 12 months:"),
                                              plainAmountText(FormatAmount(centsAsTypedText(sum), 2)));
    if (total && guarded)
        spreadYearlyTotal(guarded, *total);
}

void SheetEditing::askGrowEachMonth(SheetCell* cell)
{
    QPointer<SheetCell> guarded(cell);
    const std::optional<QString> percent =
        mAsk(QStringLiteral("Grow by a percentage each month"),
             QStringLiteral("Growth each month, in per cent (from this month on):"), QStringLiteral("5"));
    if (percent && guarded)
        growEachMonth(guarded, *percent);
}

void SheetEditing::asOneStep(const QString& label, const std::function<void()>& change)
{
    recordPending();
    const ProjectionInputs before = mSheet.inputs();
    const bool quiet = mQuiet;
    mQuiet = true;
    change();
    mQuiet = quiet;
    const ProjectionInputs after = mSheet.inputs();
    mDate = after.fiscalStart;
    if (mCurrent) {
        mFocusText = mCurrent->text();
        mCommitted = mFocusText;
    }
    std::vector<InputChange> changes;
    if (before.companyName != after.companyName)
        changes.push_back({InputSpot::companyName(), before.companyName, after.companyName});
    if (before.fiscalStart != after.fiscalStart)
        changes.push_back({InputSpot::fiscalStart(), before.fiscalStart.toString(kDateForm),
                           after.fiscalStart.toString(kDateForm)});
    for (int line = 0; line < kLineCount; ++line) {
        for (int column = 0; column < kColumnCount; ++column) {
            if (before.cell(line, column) != after.cell(line, column))
                changes.push_back({{line, column}, before.cell(line, column), after.cell(line, column)});
        }
    }
    if (mRecording)
        mHistory.record(label, std::move(changes));
}

void SheetEditing::moveVertically(SheetCell* cell, int delta)
{
    if (cell->kind() == CellKind::CompanyName)
        return;
    const int line = cell->line() + delta;
    // The check runs as for any leave; on the last line Enter still commits the cell.
    if (!mSheet.allowLeave(cell))
        return;
    if (line < 0 || line >= kLineCount)
        return;
    mSheet.cell(line, InputSheet::columnOf(cell))->setFocus(Qt::TabFocusReason);
}

void SheetEditing::restoreFocusText(SheetCell* cell)
{
    if (cell != mCurrent)
        return;
    cell->setText(mFocusText);
    if (cell->kind() == CellKind::IndPercent || cell->kind() == CellKind::MonthAmount)
        cell->selectAll();
}

bool SheetEditing::wantsKey(const SheetCell* cell, const QKeyEvent* e)
{
    const Command c = commandOf(e);
    if (c == Command::None)
        return false;
    if (isFill(c))
        return cell->kind() == CellKind::MonthAmount;
    return true;
}

bool SheetEditing::cellKey(SheetCell* cell, QKeyEvent* e)
{
    const Command c = commandOf(e);
    if (isFill(c) && cell->kind() != CellKind::MonthAmount)
        return false;
    switch (c) {
    case Command::None:
        return false;
    case Command::Undo:
        // Typing not yet committed is undone in the cell first, keystroke by keystroke.
        if (cell->isUndoAvailable() && (cell != mCurrent || cell->text() != mCommitted))
            return false;
        undo();
        return true;
    case Command::Redo:
        if (cell->isRedoAvailable())
            return false;
        redo();
        return true;
    case Command::Paste:
        if (QClipboard* clipboard = QGuiApplication::clipboard())
            return paste(cell, clipboard->text());
        return true;
    case Command::Copy:
        if (cell->hasSelectedText() || cell->kind() == CellKind::CompanyName)
            return false;
        copyLine(cell->line());
        return true;
    case Command::Down:
    case Command::Up:
        if (cell->kind() == CellKind::CompanyName)
            return false;
        moveVertically(cell, c == Command::Down ? 1 : -1);
        return true;
    case Command::Escape:
        if (cell != mCurrent || cell->text() == mFocusText)
            return false;
        restoreFocusText(cell);
        return true;
    case Command::Same:
        fillSameAmount(cell);
        return true;
    case Command::Spread:
        askSpreadYearlyTotal(cell);
        return true;
    case Command::Grow:
        askGrowEachMonth(cell);
        return true;
    case Command::Clear:
        clearLine(cell->line());
        return true;
    }
    return false;
}

QMenu* SheetEditing::cellMenu(SheetCell* cell)
{
    auto* menu = new QMenu(cell);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<SheetCell> c(cell);
    auto add = [&](const QString& text, const QKeySequence& keys, bool enabled, std::function<void()> run) {
        QAction* a = menu->addAction(text);
        if (!keys.isEmpty()) {
            a->setShortcut(keys);
            a->setShortcutVisibleInContextMenu(true);
        }
        a->setEnabled(enabled);
        connect(a, &QAction::triggered, this, [c, run] {
            if (c)
                run();
        });
        return a;
    };
    const bool typing = cell->isUndoAvailable() && (cell != mCurrent || cell->text() != mCommitted);
    add(QStringLiteral("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z), typing || canUndo(), [this, c] {
        if (c->isUndoAvailable() && (c != mCurrent || c->text() != mCommitted))
            c->undo();
        else
            undo();
    });
    add(QStringLiteral("Redo"), QKeySequence(Qt::CTRL | Qt::Key_Y), cell->isRedoAvailable() || canRedo(), [this, c] {
        if (c->isRedoAvailable())
            c->redo();
        else
            redo();
    });
    menu->addSeparator();
    const bool selected = cell->hasSelectedText();
    add(QStringLiteral("Cut"), QKeySequence(Qt::CTRL | Qt::Key_X), selected && !cell->isReadOnly(), [c] { c->cut(); });
    add(QStringLiteral("Copy"), QKeySequence(Qt::CTRL | Qt::Key_C), selected, [c] { c->copy(); });
    const QClipboard* clipboard = QGuiApplication::clipboard();
    add(QStringLiteral("Paste"), QKeySequence(Qt::CTRL | Qt::Key_V), clipboard && !clipboard->text().isEmpty(),
        [this, c] {
            if (QClipboard* board = QGuiApplication::clipboard(); board && !paste(c, board->text()))
                c->paste();
        });
    if (cell->kind() != CellKind::CompanyName)
        add(QStringLiteral("Copy Line"), QKeySequence(), true, [this, c] { copyLine(c->line()); });
    add(QStringLiteral("Select All"), QKeySequence(Qt::CTRL | Qt::Key_A), !cell->text().isEmpty(), [c] { c->selectAll(); });
    if (cell->kind() == CellKind::MonthAmount) {
        menu->addSeparator();
        add(QStringLiteral("Same amount every month"), QKeySequence(Qt::CTRL | Qt::Key_R), true,
            [this, c] { fillSameAmount(c); });
        add(QStringLiteral("Spread a yearly total…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Y), true,
            [this, c] { askSpreadYearlyTotal(c); });
        add(QStringLiteral("Grow by a percentage each month…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G), true,
            [this, c] { askGrowEachMonth(c); });
        add(QStringLiteral("Clear line"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete), true,
            [this, c] { clearLine(c->line()); });
    }
    return menu;
}

} // namespace corvantis::sheet
