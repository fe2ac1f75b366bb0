#include "sheet/sheetcell.h"

#include <QFocusEvent>
#include <QPainter>

namespace corvantis::sheet {

SheetCell::SheetCell(CellKind kind, int line, int month, QWidget* parent)
    : QLineEdit(parent), kind_(kind), line_(line), month_(month)
{
    setFrame(false);
    // The border is drawn by hand; keep the text clear of it.
    setTextMargins(2, 1, 2, 1);
    setProperty("kind", QStringLiteral("TextBox"));
}

bool SheetCell::focusNextPrevChild(bool next)
{
    // Tab and Shift+Tab: a refused check keeps the focus here and swallows the key.
    if (handler_ && !handler_->allowLeave(this))
        return true;
    return QLineEdit::focusNextPrevChild(next);
}

void SheetCell::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
    if (handler_)
        handler_->focusArrived(this, e->reason());
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
