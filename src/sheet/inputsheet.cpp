#include "sheet/inputsheet.h"

#include "app/dialogs.h"
#include "app/guard.h"
#include "app/settingsstore.h"
#include "app/twips.h"
#include "sheet/focusfollow.h"
#include "sheet/leavegate.h"
#include "sheet/monthheaders.h"

#include <QDateEdit>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

namespace corvantis::sheet {

namespace {

const QColor kWhite(255, 255, 255);
const QColor kHeadingGrey(224, 224, 224);

void setBackColour(QWidget* w, const QColor& c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

void name(QWidget* w, const QString& objectName, const char* kind)
{
    w->setObjectName(objectName);
    w->setProperty("kind", QString::fromLatin1(kind));
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
    name(l, objectName, "Label");
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
    name(l, objectName, "Label");
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

InputSheet::InputSheet(QWidget* form, SettingsStore& store) : QObject(form), form_(form), store_(store)
{
    picture1_ = new QFrame(form);
    name(picture1_, QStringLiteral("Picture1"), "PictureBox");
    picture1_->setGeometry(twipsRect(kPicture1Left, kPicture1Top, kPicture1Width, kPicture1Height));
    setBackColour(picture1_, kWhite);

    picture2_ = new QFrame(picture1_);
    name(picture2_, QStringLiteral("Picture2"), "PictureBox");
    picture2_->setGeometry(twipsRect(kPicture2Left, kPicture2Top, kPicture2Width, kPicture2Height));
    setBackColour(picture2_, kWhite);

    vscroll_ = new QScrollBar(Qt::Vertical, picture1_);
    name(vscroll_, QStringLiteral("VScroll1"), "ScrollBar");
    vscroll_->setGeometry(twipsRect(kVScrollLeft, kVScrollTop, kVScrollWidth, kVScrollHeight));
    vscroll_->setRange(0, 0);
    vscroll_->setFocusPolicy(Qt::NoFocus);   // scrolling while editing keeps the focus in the cell
    vscroll_->raise();
    // The sheet follows the thumb live while it is dragged, and every other change of the value.
    connect(vscroll_, &QScrollBar::valueChanged, this, &InputSheet::moveSheetTo);
    connect(vscroll_, &QScrollBar::sliderMoved, this, &InputSheet::moveSheetTo);

    frame1_ = new QGroupBox(QStringLiteral("Your Company Data"), picture2_);
    name(frame1_, QStringLiteral("Frame1"), "Frame");
    frame1_->setGeometry(twipsRect(kFrame1Left, kFrame1Top, kFrame1Width, kFrame1Height));
    setBackColour(frame1_, kWhite);

    // The cells first, line by line, so the natural focus chain already runs in tab order.
    for (int line = 0; line < kLineCount; ++line) {
        const int top = lineTop(line);
        names_[line] = makeCell(CellKind::LineName, QStringLiteral("txtRevenue"), line, 0,
                                QRect(kNameLeft, top, kNameWidth, kCellHeight), designName(line));
        names_[line]->setToolTip(designName(line));
        setBackColour(names_[line], kWhite);
        QPalette p = names_[line]->palette();
        p.setColor(QPalette::Base, kWhite);
        names_[line]->setPalette(p);

        inds_[line] = makeCell(CellKind::IndPercent, QStringLiteral("txtInd"), line, 0,
                               QRect(kIndLeft, top, kIndWidth, kCellHeight), QStringLiteral("0"));
        inds_[line]->setAlignment(Qt::AlignCenter);
        for (int m = 1; m <= kMonthCount; ++m) {
            SheetCell* c = makeCell(CellKind::MonthAmount, monthControlName(m), line, m,
                                    QRect(monthLeft(m), top, kMonthWidth, kCellHeight), QString());
            c->setAlignment(Qt::AlignCenter);
            months_[m - 1][line] = c;
        }
    }

    dtPicker_ = new DatePicker(frame1_);
    name(dtPicker_, QStringLiteral("DTPicker1"), "DatePicker");
    dtPicker_->setGeometry(twipsRect(7740, 397, 1530, 360));
    dtPicker_->setCalendarPopup(true);
    dtPicker_->setDisplayFormat(QStringLiteral("dd-MMM-yyyy"));
    dtPicker_->setDateRange(QDate(1601, 1, 1), kLastDate);
    dtPicker_->setFocusPolicy(Qt::StrongFocus);   // no focus change by the mouse wheel
    connect(dtPicker_, &QDateEdit::dateChanged, this, &InputSheet::dateChanged);

    company_ = new SheetCell(CellKind::CompanyName, -1, 0, frame1_);
    name(company_, QStringLiteral("txtCompanyName"), "TextBox");
    company_->setGeometry(twipsRect(1710, 412, 3390, 330));
    company_->setSettingKey(QStringLiteral("txtCompanyName"));
    company_->setFocusHandler(this);
    connect(company_, &QLineEdit::textChanged, this, [this](const QString& t) { cellChanged(company_, t); });

    plainLabel(frame1_, QStringLiteral("Label7"), QStringLiteral("Company Name"), 150, 465, 1335, 225);
    plainLabel(frame1_, QStringLiteral("Label8"), QStringLiteral("Fiscal Year Begins"), 6000, 465, 1560, 225);

    heading(frame1_, QStringLiteral("Label1"), QStringLiteral("Revenue (Sales)"), kNameLeft, kHeaderTop, kNameWidth,
            kHeaderHeight);
    heading(frame1_, QStringLiteral("Label4"), QStringLiteral("IND. %"), kIndLeft, kHeaderTop, kIndWidth,
            kHeaderHeight);
    for (int i = 0; i < kMonthCount; ++i)
        lblYear_[i] = heading(frame1_, arrayName(QStringLiteral("lblYear"), i), QStringLiteral("IND. %"),
                              monthLeft(i + 1), kHeaderTop, kMonthWidth, kHeaderHeight);
    heading(frame1_, QStringLiteral("Label2"), QStringLiteral("Cost of Sales"), 120, 3510, 1800, 360);
    heading(frame1_, QStringLiteral("Label5"), QString(), 1905, 3510, 11265, 360);
    heading(frame1_, QStringLiteral("Label3"), QStringLiteral("Expenses"), 120, 6060, 1800, 360);
    heading(frame1_, QStringLiteral("Label6"), QString(), 1905, 6060, 11265, 360);

    gate_ = new LeaveGate(form);
}

InputSheet::~InputSheet() = default;

SheetCell* InputSheet::makeCell(CellKind kind, const QString& control, int line, int month, const QRect& twips,
                                const QString& designText)
{
    auto* c = new SheetCell(kind, line, month, frame1_);
    c->setText(designText);   // the design text is no change: it is set before the change handler
    name(c, arrayName(control, line), "TextBox");
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
    store_.save(cell->settingKey(), text);
    if (cell->kind() == CellKind::LineName)
        cell->setToolTip(text);
}

void InputSheet::dateChanged(const QDate& date)
{
    store_.save(QStringLiteral("DTPicker1"), dateSettingText(date));
    applyMonthHeaders(date);
}

void InputSheet::applyMonthHeaders(const QDate& start)
{
    for (int i = 0; i < kMonthCount; ++i)
        lblYear_[i]->setText(monthCaption(start, i));
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
    Dialogs::inform(d.message, form_);
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
    const int maximum = vscroll_->maximum();
    if (cell->kind() != CellKind::LineName) {
        const FocusFollow f = focusFollow(top, kCellHeight, vscroll_->value(), kPicture1Height, maximum);
        if (f.move != FocusFollow::Move::None)
            vscroll_->setValue(f.value);
        return;
    }
    Guard g("Form1", "txtRevenue_GotFocus");
    FocusFollow f;
    if (!g.step(100, [&] { f = focusFollow(top, kCellHeight, vscroll_->value(), kPicture1Height, maximum); }))
        return;
    if (f.move == FocusFollow::Move::Down)
        g.step(102, [&] { vscroll_->setValue(f.value); });
    else if (f.move == FocusFollow::Move::Up)
        g.step(104, [&] { vscroll_->setValue(f.value); });
}

void InputSheet::moveSheetTo(int scrollValue)
{
    picture2_->move(picture2_->x(), twipsToPixels(-scrollValue));
}

} // namespace corvantis::sheet
