#include "sheet/datepicker.h"

#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QValidator>
#include <QWheelEvent>

#include <algorithm>

namespace corvantis::sheet {

DatePicker::DatePicker(QWidget* parent) : QDateEdit(parent)
{
    lineEdit()->installEventFilter(this);
}

DateSection DatePicker::sectionNow() const
{
    switch (currentSection()) {
    case QDateTimeEdit::MonthSection:
        return DateSection::Month;
    case QDateTimeEdit::YearSection:
        return DateSection::Year;
    default:
        return DateSection::Day;
    }
}

bool DatePicker::focusNextPrevChild(bool next)
{
    // Tab and Shift+Tab leave the picker as they leave every other control (its parts are
    // walked with the arrow keys); what was typed is taken first.
    finishTyping();
    return QWidget::focusNextPrevChild(next);
}

void DatePicker::beginTyping()
{
    if (mTyping)
        return;
    mTyping = true;
    mTyped.clear();
    mStart = sectionNow();
    // The typed text is ours until it is taken: the date parser must neither refuse nor
    // "correct" it while it is being written.
    mValidator = lineEdit()->validator();
    lineEdit()->setValidator(nullptr);
}

void DatePicker::showTyped()
{
    QLineEdit* edit = lineEdit();
    const QSignalBlocker quiet(edit);
    edit->setText(mTyped);
    edit->setCursorPosition(int(mTyped.size()));
}

void DatePicker::type(const QString& text)
{
    beginTyping();
    mTyped += text;
    showTyped();
    // A whole date is taken at once, so the headers and the store follow without a leave.
    const std::optional<TypedDate> t = typedDate(mTyped, locale(), date(), mStart);
    if (t && t->complete && t->date >= minimumDate() && t->date <= maximumDate() && t->date != date()) {
        setDate(t->date);
        showTyped();
    }
}

void DatePicker::stopTyping()
{
    mTyping = false;
    lineEdit()->setValidator(mValidator);
    mValidator = nullptr;
}

void DatePicker::finishTyping()
{
    if (!mTyping)
        return;
    const QString typed = mTyped;
    const DateSection start = mStart;
    stopTyping();
    const std::optional<TypedDate> t = typedDate(typed, locale(), date(), start);
    if (t && t->date >= minimumDate() && t->date <= maximumDate())
        setDate(t->date);   // a change is stored and relabels the months
    else
        setDate(date());    // no date: the old one shows again
}

void DatePicker::cancelTyping()
{
    if (!mTyping)
        return;
    stopTyping();
    setDate(date());
}

bool DatePicker::event(QEvent* e)
{
    if (e->type() == QEvent::ShortcutOverride) {
        // Undo and redo belong to the whole sheet, not to the date's text: the window's
        // shortcuts take them, after what was typed has become the date.
        const auto* k = static_cast<QKeyEvent*>(e);
        const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
        const bool ctrl = mods == Qt::ControlModifier;
        if ((ctrl && (k->key() == Qt::Key_Z || k->key() == Qt::Key_Y))
            || (mods == (Qt::ControlModifier | Qt::ShiftModifier) && k->key() == Qt::Key_Z)) {
            finishTyping();
            e->ignore();
            return true;
        }
    }
    return QDateEdit::event(e);
}

void DatePicker::openCalendar()
{
    finishTyping();
    if (!calendarPopup() || isReadOnly())
        return;
    // The date edit opens its calendar on a press over its arrow; there is no other way in.
    QStyleOptionComboBox opt;
    opt.initFrom(this);
    opt.editable = true;
    opt.frame = true;
    opt.subControls = QStyle::SC_All;
    const QRect arrow = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxArrow, this);
    const QPointF at = arrow.isValid() ? QPointF(arrow.center()) : QPointF(width() - 4, height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QDateEdit::mousePressEvent(&press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QDateEdit::mouseReleaseEvent(&release);
}

void DatePicker::keyPressEvent(QKeyEvent* e)
{
    const Qt::KeyboardModifiers mods = e->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier);
    const QString text = e->text();
    // The calendar opens from the keyboard; those keys never step the date.
    if (e->key() == Qt::Key_F4 || ((e->key() == Qt::Key_Down || e->key() == Qt::Key_Up) && (mods & Qt::AltModifier))) {
        openCalendar();
        e->accept();
        return;
    }
    if (text == QLatin1String(" ") && !mTyping) {
        e->accept();   // a blank does not begin a date: the date stays as it is
        return;
    }
    if (!text.isEmpty() && text.at(0).isPrint() && mods == Qt::NoModifier) {
        // Digits, letters and separators alike: every key stays in the picker.
        type(text);
        e->accept();
        return;
    }
    if (e->matches(QKeySequence::Paste)) {
        if (QClipboard* clipboard = QGuiApplication::clipboard())
            type(clipboard->text().simplified());
        e->accept();
        return;
    }
    switch (e->key()) {
    case Qt::Key_Shift:   // a modifier on its own is part of the next key ("J" is Shift+j)
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
    case Qt::Key_unknown:
        e->ignore();
        return;
    case Qt::Key_Backspace:
        if (mTyping)
            mTyped.chop(1);
        beginTyping();
        showTyped();
        e->accept();
        return;
    case Qt::Key_Delete:
        beginTyping();
        mTyped.clear();
        showTyped();
        e->accept();
        return;
    case Qt::Key_Escape:
        if (mTyping) {
            cancelTyping();
            e->accept();
            return;
        }
        break;
    default:
        // Enter, the arrows, Page Up/Down: the typed date first, then what the key does.
        finishTyping();
        break;
    }
    QDateEdit::keyPressEvent(e);
}

void DatePicker::inputMethodEvent(QInputMethodEvent* e)
{
    if (!e->commitString().isEmpty())
        type(e->commitString());
    e->accept();
}

void DatePicker::focusInEvent(QFocusEvent* e)
{
    QDateEdit::focusInEvent(e);
    if (mTyping) {
        showTyped();   // back from another window: the typing goes on
        return;
    }
    if (e->reason() != Qt::ActiveWindowFocusReason && e->reason() != Qt::PopupFocusReason && mFocusArrived)
        mFocusArrived();
}

void DatePicker::focusOutEvent(QFocusEvent* e)
{
    // Another window coming to the front is no leave: the typing waits for the focus to return.
    if (e->reason() != Qt::ActiveWindowFocusReason)
        finishTyping();
    QDateEdit::focusOutEvent(e);
    if (!mTyping)
        lineEdit()->setCursorPosition(0);   // the date from its start
}

void DatePicker::mousePressEvent(QMouseEvent* e)
{
    finishTyping();
    QDateEdit::mousePressEvent(e);
}

void DatePicker::wheelEvent(QWheelEvent* e)
{
    // A wheel turned over a picker the user is not in belongs to the sheet below it.
    if (!hasFocus()) {
        e->ignore();
        return;
    }
    finishTyping();
    QDateEdit::wheelEvent(e);
}

bool DatePicker::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == lineEdit() && (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonDblClick))
        finishTyping();   // a click places the caret in the date, not in the typed text
    return QDateEdit::eventFilter(watched, e);
}

void DatePicker::fitDates(int maxWidth)
{
    ensurePolished();
    const QLocale l = locale();
    const QString format = displayFormat();
    auto widest = [&](const QFont& f) {
        const QFontMetrics fm(f);
        int w = 0;
        for (int m = 1; m <= 12; ++m)
            w = std::max(w, fm.horizontalAdvance(l.toString(QDate(2000, m, 28), format)));
        return w;
    };
    // What the frame, the calendar button and the text margins take besides the text.
    QStyleOptionComboBox opt;
    opt.initFrom(this);
    opt.editable = true;
    opt.frame = true;
    opt.rect = QRect(0, 0, 1000, height());
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    const int chrome = 1000 - field.width() + 8;

    QFont f = font();
    int needed = widest(f) + chrome;
    while (needed > maxWidth && f.pointSizeF() > 6) {
        f.setPointSizeF(f.pointSizeF() - 0.5);
        needed = widest(f) + chrome;
    }
    if (f != font())
        setFont(f);
    if (needed > width())
        resize(std::min(needed, maxWidth), height());
}

} // namespace corvantis::sheet
