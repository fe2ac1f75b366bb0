#include "sheet/sheetcell.h"

#include "ui/controlkind.h"

#include <QFocusEvent>
#include <QPainter>

namespace corvantis::sheet {

SheetCell::SheetCell(CellKind kind, int line, int month, QWidget* parent)
    : QLineEdit(parent), mKind(kind), mLine(line), mMonth(month)
{
    setFrame(false);
    // The border is drawn by hand; keep the text clear of it.
    setTextMargins(2, 1, 2, 1);
    setControlKind(this, ControlKind::TextBox);
}

bool SheetCell::focusNextPrevChild(bool next)
{
    // Tab and Shift+Tab: a refused check keeps the focus here and swallows the key.
    if (mHandler && !mHandler->allowLeave(this))
        return true;
    return QLineEdit::focusNextPrevChild(next);
}

void SheetCell::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
    if (mHandler)
        mHandler->focusArrived(this, e->reason());
}

void SheetCell::paintEvent(QPaintEvent* e)
{
    QLineEdit::paintEvent(e);
    // Flat box with a single line; neighbouring cells overlap by one pixel and share it.
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace corvantis::sheet
