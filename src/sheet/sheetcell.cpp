#include "sheet/sheetcell.h"

#include "sheet/cellaccessibility.h"

#include <QContextMenuEvent>
#include <QApplication>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>

#include <string_view>

namespace corvantis::sheet {

static_assert(std::string_view(kControlKindProperty) == "controlKind", "the cell's property is the control kind's");

namespace {

// The width of a text at a cell's design font. The sheet shows the same few figures ("$0.00")
// in hundreds of cells, all in one font: each is measured once. (Held for the program's life, so
// no font outlives the application object's font cache.)
qreal designWidth(const QFont& font, const QString& text)
{
    struct Widths {
        QFont font;
        QHash<QString, qreal> of;
    };
    static Widths* const widths = new Widths;
    if (widths->of.size() >= 512 || widths->font != font) {
        widths->of.clear();
        widths->font = font;
    }
    if (const auto known = widths->of.constFind(text); known != widths->of.cend())
        return *known;
    const qreal width = QFontMetricsF(font).horizontalAdvance(text);
    widths->of.insert(text, width);
    return width;
}

} // namespace

SheetCell::SheetCell(CellKind kind, int line, int month, QWidget* parent)
    : SheetCell(kind, line, month, QString(), parent)
{
}

SheetCell::SheetCell(CellKind kind, int line, int month, const QString& designText, QWidget* parent)
    : QLineEdit(parent), mKind(kind), mLine(line), mMonth(month)
{
    // Before the box's first event: a stand-in takes Qt's events while no assistive tool listens.
    useCellStandIns();
    // QLineEdit lays its text out three times while it is built; built empty and given its text
    // before anyone listens, the design text is laid out once.
    if (!designText.isEmpty()) {
        setText(designText);
        setCursorPosition(0);   // shown from its start, as every text set later
        describeText();
    }
    setFrame(false);
    // The border is drawn by hand; keep the text clear of it.
    setTextMargins(2, 1, 2, 1);
    // QLineEdit puts the caret at the end of every text set by the program (even an unchanged
    // one), which scrolls a long text to its tail: "00,000.00" for $100,000.00.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (mUnreadable)
            setUnreadable(false);
        fitText();
        describeText();
        showStart();
    });
    connect(this, &QLineEdit::cursorPositionChanged, this, [this] { showStart(); });
}

void SheetCell::setUnreadable(bool unreadable)
{
    if (mUnreadable == unreadable)
        return;
    mUnreadable = unreadable;
    QPalette p = palette();
    p.setColor(QPalette::Text, unreadable ? QColor(192, 0, 0) : QApplication::palette(this).color(QPalette::Text));
    setPalette(p);
    describeText();
}

void SheetCell::describeText()
{
    // Figures may be shown small: the tip shows them at full size (a name's tip is its owner's).
    if (mKind == CellKind::IndPercent || mKind == CellKind::MonthAmount)
        setToolTip(mUnreadable ? tr("%1 (not read as an amount: please correct it)").arg(text()) : text());
}

int SheetCell::roomForText() const
{
    // QLineEdit keeps two pixels either side inside its text margins, and one for the caret.
    const QMargins m = textMargins();
    return contentsRect().width() - m.left() - m.right() - 2 * 2 - 1;
}

bool SheetCell::showsWholeText() const
{
    return QFontMetricsF(font()).horizontalAdvance(text()) <= roomForText();
}

void SheetCell::fitText()
{
    if ((mKind != CellKind::IndPercent && mKind != CellKind::MonthAmount) || mFitting)
        return;
    if (!mDesignFont)
        mDesignFont = font();
    const int room = roomForText();
    // Measuring is the costly part: a text already fitted into the same room stays as it is
    // (the first show resizes every box to the size it already had).
    if (mFitted && mFitted->text == text() && mFitted->room == room && mFitted->font == font())
        return;
    mFitting = true;
    QFont f = *mDesignFont;
    auto width = [&](const QFont& font) { return QFontMetricsF(font).horizontalAdvance(text()); };
    if (room > 0 && designWidth(f, text()) > room) {
        // First narrower letters (down to seven tenths), then smaller ones, until it fits.
        const double full = designWidth(f, text());
        int stretch = std::max(70, int(100.0 * room / full));
        f.setStretch(stretch);
        while (width(f) > room && stretch > 70)
            f.setStretch(stretch -= 5);
        // A script whose fonts do not narrow (Arabic digits fall back to another face) only
        // shrinks: narrowed letters would be drawn smaller than they were measured.
        if (width(f) > full * 0.95)
            f.setStretch(QFont::AnyStretch);
        double size = mDesignFont->pointSizeF();
        while (width(f) > room && size > 1.0) {
            size -= 0.25;
            f.setPointSizeF(size);
        }
    }
    if (f != font())
        setFont(f);
    mFitted = Fitted{text(), room, font()};
    mFitting = false;
}

void SheetCell::resizeEvent(QResizeEvent* e)
{
    QLineEdit::resizeEvent(e);
    fitText();
}

void SheetCell::showStart()
{
    // The window's focus cell keeps its caret while a message box or another program is in front.
    if (window()->focusWidget() != this && cursorPosition() != 0)
        setCursorPosition(0);
}

bool SheetCell::event(QEvent* e)
{
    // On each activation of the window QLineEdit queues a call, looked up by its name, that drops
    // the selection of a box without the focus; hundreds of cells each queued one. A box with
    // nothing selected has nothing to drop.
    if (e->type() == QEvent::WindowActivate && !hasSelectedText())
        return QWidget::event(e);
    // The sheet's keys come to the cell as key presses, ahead of the window's shortcuts.
    if (e->type() == QEvent::ShortcutOverride && mHandler && mHandler->wantsCellKey(this, static_cast<QKeyEvent*>(e))) {
        e->accept();
        return true;
    }
    return QLineEdit::event(e);
}

void SheetCell::keyPressEvent(QKeyEvent* e)
{
    if (mHandler && mHandler->cellKey(this, e)) {
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void SheetCell::contextMenuEvent(QContextMenuEvent* e)
{
    QMenu* menu = mHandler ? mHandler->cellMenu(this) : nullptr;
    if (!menu) {
        QLineEdit::contextMenuEvent(e);
        return;
    }
    menu->popup(e->globalPos());
    e->accept();
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
    // Unfocused, the caret sat at the start so the box showed it; entered from the keyboard or
    // by the program, the caret goes to the end as in any edit box. (A click places it itself.)
    const Qt::FocusReason reason = e->reason();
    if (!hasSelectedText() && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason
                               || reason == Qt::ShortcutFocusReason || reason == Qt::OtherFocusReason))
        end(false);
    // QLineEdit selects the whole text on Tab; a name is entered as it is, caret at its end.
    if ((mKind == CellKind::LineName || mKind == CellKind::CompanyName) && hasSelectedText()
        && (e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason
            || e->reason() == Qt::ShortcutFocusReason))
        deselect();
    if (mHandler)
        mHandler->focusArrived(this, e->reason());
}

void SheetCell::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    // Left for another control: show the text from its start. (A message box or another
    // program in front is no leave; the caret waits where it was.)
    if (e->reason() != Qt::ActiveWindowFocusReason && e->reason() != Qt::PopupFocusReason)
        setCursorPosition(0);
}

void SheetCell::paintEvent(QPaintEvent* e)
{
    QLineEdit::paintEvent(e);
    // Flat box with a single line; neighbouring cells overlap by one pixel and share it.
    QPainter p(this);
    const QColor line = palette().color(QPalette::WindowText);
    const int w = width();
    const int h = height();
    if (line.alpha() != 255 || w < 3 || h < 3 || devicePixelRatioF() != 1.0) {
        p.setPen(line);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        return;
    }
    // The same pixels as a one-pixel rectangle outline, filled as four strips: a filled
    // rectangle is a plain copy, an outline goes through the stroker.
    p.fillRect(0, 0, w, 1, line);
    p.fillRect(0, h - 1, w, 1, line);
    p.fillRect(0, 1, 1, h - 2, line);
    p.fillRect(w - 1, 1, 1, h - 2, line);
}

} // namespace corvantis::sheet
