#pragma once
// The fiscal start's date picker DTPicker1: a date edit in the form "dd-MMM-yyyy" that keeps
// every key given to it. Typed keys build a date text of their own ("31-Jan-2025", "31.01.2025",
// "31/01/2025", or "15" over the day part); separators stay inside it, so a "-" or "." moves on
// to the next part of the date and never to another control. The typed text becomes the date
// as soon as it is a whole date, and in any case when the picker is left or Enter is pressed;
// a text that is no date gives the old date back. Tab and Shift+Tab leave the picker in the
// window's order, and only a focused picker turns the mouse wheel into date steps.
#include "sheet/datetyping.h"

#include <QDateEdit>

#include <functional>

class QValidator;

namespace corvantis::sheet {

class DatePicker : public QDateEdit {
    Q_OBJECT
public:
    explicit DatePicker(QWidget* parent = nullptr);

    // Runs when the focus arrives by a key or a click (not when the window comes back to the front).
    void setFocusArrivedHandler(std::function<void()> handler) { mFocusArrived = std::move(handler); }

    // Widens the picker to the right (its position stays) until the longest date of its locale
    // shows whole, at most to `maxWidth` pixels; past that the font shrinks.
    void fitDates(int maxWidth);

    bool isTyping() const { return mTyping; }
    // Opens the calendar, as a click on the arrow does (Alt+Down, Alt+Up and F4 from the keyboard).
    void openCalendar();
    QString typedText() const { return mTyped; }

protected:
    bool event(QEvent* e) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void type(const QString& text);
    void beginTyping();
    void showTyped();
    void finishTyping();
    void cancelTyping();
    void stopTyping();
    DateSection sectionNow() const;

    bool mTyping = false;
    QString mTyped;
    DateSection mStart = DateSection::Day;
    const QValidator* mValidator = nullptr;
    std::function<void()> mFocusArrived;
};

} // namespace corvantis::sheet
