#include "sheet/captionlabel.h"

#include <QFontMetrics>

#include <algorithm>

namespace corvantis::sheet {

namespace {
// Room kept between the text and the label's edges or border.
constexpr int kSlack = 2;
} // namespace

int CaptionLabel::textRoom(int width) const
{
    const QMargins m = contentsMargins();
    return width - m.left() - m.right() - 2 * margin() - indent() * (indent() > 0 ? 1 : 0) - kSlack;
}

bool CaptionLabel::showsWhole() const
{
    return fontMetrics().horizontalAdvance(text()) <= textRoom(width());
}

void CaptionLabel::setCaption(const QString& text)
{
    // The same caption again (start-up sets each month's twice) stays as it was fitted.
    if (mFitted && text == this->text() && *mFitted == fitState())
        return;
    setText(text);
    fit();
}

void CaptionLabel::fit()
{
    if (!mHasDesignFont) {
        mDesignFont = font();
        mHasDesignFont = true;
    }
    if (mDesignWidth < 0)
        mDesignWidth = width();
    const QString t = text();
    int w = mDesignWidth;
    QFont f = mDesignFont;
    int needed = QFontMetrics(f).horizontalAdvance(t);
    if (needed > textRoom(w) && mMaxWidth > w)
        w = std::min(mMaxWidth, needed + (w - textRoom(w)));
    while (needed > textRoom(w) && f.pointSizeF() > 3) {
        f.setPointSizeF(f.pointSizeF() - 0.25);
        needed = QFontMetrics(f).horizontalAdvance(t);
    }
    if (w != width())
        resize(w, height());
    if (f != font())
        setFont(f);
    mFitted = fitState();
}

CaptionLabel::FitState CaptionLabel::fitState() const
{
    return {text(), width(), font(), contentsMargins(), margin(), indent(), mMaxWidth};
}

void CaptionLabel::paintEvent(QPaintEvent* e)
{
    // A text set from anywhere shows whole as well; a label as it was last fitted stays.
    if (!mFitted || !(*mFitted == fitState()))
        fit();
    QLabel::paintEvent(e);
}

} // namespace corvantis::sheet
