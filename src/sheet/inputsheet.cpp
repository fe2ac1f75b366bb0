#include "sheet/inputsheet.h"

#include "core/dialogs.h"
#include "core/guard.h"
#include "core/settingsstore.h"
#include "core/twips.h"
#include "sheet/focusfollow.h"
#include "sheet/leavegate.h"
#include "sheet/monthheaders.h"
#include "ui/controlkind.h"
#include "ui/windowcolours.h"

#include <QDateEdit>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

namespace corvantis::sheet {

namespace {

const QColor kWhite(255, 255, 255);

void name(QWidget* w, const QString& objectName, ControlKind kind)
{
    w->setObjectName(objectName);
    setControlKind(w, kind);
}

QString arrayName(const QString& control, int index)
{
    return control + QLatin1Char('(') + QString::number(index) + QLatin1Char(')');
}

// Grey heading: single-line border, centred caption.
QLabel* heading(QWidget* parent, const QString& objectName, const QString& caption, int left, int top, int width,
                int height)
{
    auto* l = new QLabel(caption, parent);
    name(l, objectName, ControlKind::Label);
    l->setGeometry(twipsRect(left, top, width, height));
    l->setFrameStyle(QFrame::Box | QFrame::Plain);
    l->setLineWidth(1);
    l->setAlignment(Qt::AlignCenter);
    setBackColour(l, kHeadingGrey);
    return l;
}

QLabel* plainLabel(QWidget* parent, const QString& objectName, const QString& caption, int left, int top, int width,
                   int height)
{
    auto* l = new QLabel(caption, parent);
    name(l, objectName, ControlKind::Label);
    l->setGeometry(twipsRect(left, top, width, height));
    setBackColour(l, kWhite);
    return l;
}

// Tab leaves the date picker as it leaves every other control; the arrow keys still walk its
// day, month and year.
class DatePicker : public QDateEdit {
public:
    using QDateEdit::QDateEdit;

protected:
    bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};

} // namespace

InputSheet::InputSheet(QWidget* form, SettingsStore& store) : QObject(form), mForm(form), mStore(store)
{
    mPicture1 = new QFrame(form);
    name(mPicture1, QStringLiteral("Picture1"), ControlKind::PictureBox);
    mPicture1->setGeometry(twipsRect(kPicture1Left, kPicture1Top, kPicture1Width, kPicture1Height));
    setBackColour(mPicture1, kWhite);

    mPicture2 = new QFrame(mPicture1);
    name(mPicture2, QStringLiteral("Picture2"), ControlKind::PictureBox);
    mPicture2->setGeometry(twipsRect(kPicture2Left, kPicture2Top, kPicture2Width, kPicture2Height));
    setBackColour(mPicture2, kWhite);

    mVscroll = new QScrollBar(Qt::Vertical, mPicture1);
    name(mVscroll, QStringLiteral("VScroll1"), ControlKind::ScrollBar);
    mVscroll->setGeometry(twipsRect(kVScrollLeft, kVScrollTop, kVScrollWidth, kVScrollHeight));
    mVscroll->setRange(0, 0);
    mVscroll->setFocusPolicy(Qt::NoFocus);   // scrolling while editing keeps the focus in the cell
    mVscroll->raise();
    // The sheet follows the thumb live while it is dragged, and every other change of the value.
    connect(mVscroll, &QScrollBar::valueChanged, this, &InputSheet::moveSheetTo);
    connect(mVscroll, &QScrollBar::sliderMoved, this, &InputSheet::moveSheetTo);

    mFrame1 = new QGroupBox(QStringLiteral("Your Company Data"), mPicture2);
    name(mFrame1, QStringLiteral("Frame1"), ControlKind::Frame);
    mFrame1->setGeometry(twipsRect(kFrame1Left, kFrame1Top, kFrame1Width, kFrame1Height));
    setBackColour(mFrame1, kWhite);

    // The cells first, line by line, so the natural focus chain already runs in tab order.
    for (int line = 0; line < kLineCount; ++line) {
        const int top = lineTop(line);
        mNames[line] = makeCell(CellKind::LineName, QStringLiteral("txtRevenue"), line, 0,
                                QRect(kNameLeft, top, kNameWidth, kCellHeight), designName(line));
        mNames[line]->setToolTip(designName(line));
        setBackColour(mNames[line], kWhite);
        QPalette p = mNames[line]->palette();
        p.setColor(QPalette::Base, kWhite);
        mNames[line]->setPalette(p);

        mInds[line] = makeCell(CellKind::IndPercent, QStringLiteral("txtInd"), line, 0,
                               QRect(kIndLeft, top, kIndWidth, kCellHeight), QStringLiteral("0"));
        mInds[line]->setAlignment(Qt::AlignCenter);
        for (int m = 1; m <= kMonthCount; ++m) {
            SheetCell* c = makeCell(CellKind::MonthAmount, monthControlName(m), line, m,
                                    QRect(monthLeft(m), top, kMonthWidth, kCellHeight), QString());
            c->setAlignment(Qt::AlignCenter);
            mMonths[m - 1][line] = c;
        }
    }

    mDtPicker = new DatePicker(mFrame1);
    name(mDtPicker, QStringLiteral("DTPicker1"), ControlKind::DatePicker);
    mDtPicker->setGeometry(twipsRect(7740, 397, 1530, 360));
    mDtPicker->setCalendarPopup(true);
    mDtPicker->setDisplayFormat(QStringLiteral("dd-MMM-yyyy"));
    mDtPicker->setDateRange(QDate(1601, 1, 1), kLastDate);
    mDtPicker->setFocusPolicy(Qt::StrongFocus);   // no focus change by the mouse wheel
    connect(mDtPicker, &QDateEdit::dateChanged, this, &InputSheet::dateChanged);

    mCompany = new SheetCell(CellKind::CompanyName, -1, 0, mFrame1);
    name(mCompany, QStringLiteral("txtCompanyName"), ControlKind::TextBox);
    mCompany->setGeometry(twipsRect(1710, 412, 3390, 330));
    mCompany->setSettingKey(QStringLiteral("txtCompanyName"));
    mCompany->setFocusHandler(this);
    connect(mCompany, &QLineEdit::textChanged, this, [this](const QString& t) { cellChanged(mCompany, t); });

    plainLabel(mFrame1, QStringLiteral("Label7"), QStringLiteral("Company Name"), 150, 465, 1335, 225);
    plainLabel(mFrame1, QStringLiteral("Label8"), QStringLiteral("Fiscal Year Begins"), 6000, 465, 1560, 225);

    heading(mFrame1, QStringLiteral("Label1"), QStringLiteral("Revenue (Sales)"), kNameLeft, kHeaderTop, kNameWidth,
            kHeaderHeight);
    heading(mFrame1, QStringLiteral("Label4"), QStringLiteral("IND. %"), kIndLeft, kHeaderTop, kIndWidth,
            kHeaderHeight);
    for (int i = 0; i < kMonthCount; ++i)
        mLblYear[i] = heading(mFrame1, arrayName(QStringLiteral("lblYear"), i), QStringLiteral("IND. %"),
                              monthLeft(i + 1), kHeaderTop, kMonthWidth, kHeaderHeight);
    heading(mFrame1, QStringLiteral("Label2"), QStringLiteral("Cost of Sales"), 120, 3510, 1800, 360);
    heading(mFrame1, QStringLiteral("Label5"), QString(), 1905, 3510, 11265, 360);
    heading(mFrame1, QStringLiteral("Label3"), QStringLiteral("Expenses"), 120, 6060, 1800, 360);
    heading(mFrame1, QStringLiteral("Label6"), QString(), 1905, 6060, 11265, 360);

    mGate = new LeaveGate(form);
}

InputSheet::~InputSheet() = default;

SheetCell* InputSheet::makeCell(CellKind kind, const QString& control, int line, int month, const QRect& twips,
                                const QString& designText)
{
    auto* c = new SheetCell(kind, line, month, mFrame1);
    c->setText(designText);   // the design text is no change: it is set before the change handler
    name(c, arrayName(control, line), ControlKind::TextBox);
    c->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    c->setSettingKey(cellSettingKey(control, line));
    c->setFocusHandler(this);
    connect(c, &QLineEdit::textChanged, this, [this, c](const QString& t) { cellChanged(c, t); });
    return c;
}

SheetCell* InputSheet::cell(int line, int column) const
{
    if (column == 0)
        return txtRevenue(line);
    if (column == 1)
        return txtInd(line);
    return txtYear(column - 1, line);
}

void InputSheet::cellChanged(SheetCell* cell, const QString& text)
{
    // Write-through: the store always holds the cell's whole current text.
    mStore.save(cell->settingKey(), text);
    if (cell->kind() == CellKind::LineName)
        cell->setToolTip(text);
}

void InputSheet::dateChanged(const QDate& date)
{
    mStore.save(QStringLiteral("DTPicker1"), dateSettingText(date));
    applyMonthHeaders(date);
}

void InputSheet::applyMonthHeaders(const QDate& start)
{
    for (int i = 0; i < kMonthCount; ++i)
        mLblYear[i]->setText(monthCaption(start, i));
}

bool InputSheet::allowLeave(SheetCell* cell)
{
    LeaveDecision d;
    try {
        d = leaveDecision(cell->kind(), cell->text());
    } catch (const std::exception&) {
        return true;   // a text the checks cannot judge is left as it is
    }
    if (d.allowed) {
        if (d.replacement && *d.replacement != cell->text())
            cell->setText(*d.replacement);
        return true;
    }
    // Message first, then the replacement text (stored by the change), then the focus stays;
    // the selection waits until the focus has settled back in the cell.
    Dialogs::inform(d.message, mForm);
    if (d.replacement)
        cell->setText(*d.replacement);
    if (d.selectAll) {
        QPointer<SheetCell> guarded(cell);
        QTimer::singleShot(0, cell, [guarded] {
            if (guarded)
                guarded->selectAll();
        });
    }
    return false;
}

void InputSheet::focusArrived(SheetCell* cell, Qt::FocusReason reason)
{
    // Coming back to the window (after a message box or from another program) is no arrival.
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return;
    if (cell->kind() == CellKind::CompanyName)
        return;
    followFocus(cell);
    if (cell->kind() == CellKind::IndPercent || cell->kind() == CellKind::MonthAmount) {
        // After the focus has settled, so a click that placed the caret does not undo it.
        QPointer<SheetCell> guarded(cell);
        QTimer::singleShot(0, cell, [guarded] {
            if (guarded && guarded->hasFocus())
                guarded->selectAll();
        });
    }
}

void InputSheet::followFocus(SheetCell* cell)
{
    const int top = kFrame1Top + lineTop(cell->line());
    const int maximum = mVscroll->maximum();
    if (cell->kind() != CellKind::LineName) {
        const FocusFollow f = focusFollow(top, kCellHeight, mVscroll->value(), kPicture1Height, maximum);
        if (f.move != FocusFollow::Move::None)
            mVscroll->setValue(f.value);
        return;
    }
    Guard g("Form1", "txtRevenue_GotFocus");
    FocusFollow f;
    if (!g.step(100, [&] { f = focusFollow(top, kCellHeight, mVscroll->value(), kPicture1Height, maximum); }))
        return;
    if (f.move == FocusFollow::Move::Down)
        g.step(102, [&] { mVscroll->setValue(f.value); });
    else if (f.move == FocusFollow::Move::Up)
        g.step(104, [&] { mVscroll->setValue(f.value); });
}

void InputSheet::moveSheetTo(int scrollValue)
{
    mPicture2->move(mPicture2->x(), twipsToPixels(-scrollValue));
}

} // namespace corvantis::sheet
