#include "sheet/inputsheet.h"

#include "core/dialogs.h"
#include "core/guard.h"
#include "core/settingsstore.h"
#include "core/twips.h"
#include "sheet/cellaccessibility.h"
#include "sheet/focusfollow.h"
#include "sheet/leavegate.h"
#include "sheet/monthheaders.h"
#include "sheet/sheetediting.h"
#include "ui/controlkind.h"
#include "ui/windowcolours.h"

#include <QApplication>
#include <QDateEdit>
#include <QFrame>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QScrollBar>
#include <QStringBuilder>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>

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
    return control % QLatin1Char('(') % QString::number(index) % QLatin1Char(')');
}

// Room left between a label and the control to its right, in twips.
constexpr int kLabelGap = 60;

// --- what a screen reader says of a cell ---------------------------------------------------------

QString sectionName(int line)
{
    if (line < 7)
        return QObject::tr("revenue line %1").arg(line + 1);
    if (line < 14)
        return QObject::tr("cost of sales line %1").arg(line - 6);
    return QObject::tr("expense line %1").arg(line - 13);
}

// The names above, made once: naming the cells asks for each of them hundreds of times.
const QString& sectionOf(int line)
{
    static const std::array<QString, kLineCount> names = [] {
        std::array<QString, kLineCount> all;
        for (int line = 0; line < kLineCount; ++line)
            all[line] = sectionName(line);
        return all;
    }();
    return names.at(line);
}

// Each line as the user named it; where two lines bear one name (or none), where it stands as well.
std::array<QString, kLineCount> lineLabels(const InputSheet& sheet)
{
    std::array<QString, kLineCount> names;
    QHash<QString, int> uses;
    for (int line = 0; line < kLineCount; ++line) {
        names[line] = sheet.txtRevenue(line)->text().simplified();
        if (!names[line].isEmpty())
            ++uses[names[line]];
    }
    for (int line = 0; line < kLineCount; ++line) {
        if (names[line].isEmpty())
            names[line] = sectionOf(line);
        else if (uses.value(names[line]) > 1)
            names[line] += QLatin1String(" (") + sectionOf(line) + QLatin1Char(')');
    }
    return names;
}

QString columnLabel(const InputSheet& sheet, int column)
{
    if (column == kNameColumn)
        return QObject::tr("name");
    if (column == kIndColumn)
        return QObject::tr("industry percentage");
    return sheet.lblYear(column - 2)->text();
}

// What a column's cells are, with the line left open as %1: "The amount of %1 in Mar-27, month
// 1 of the fiscal year". Made once per column, not once per cell.
QString columnDescription(const InputSheet& sheet, int column)
{
    if (column == kNameColumn)
        return QObject::tr("The name of %1");
    if (column == kIndColumn)
        return QObject::tr("The industry's percentage of sales for %1");
    const QString caption = sheet.lblYear(column - 2)->text();
    const QString text = QObject::tr("The amount of %1 in %2, month %3 of the fiscal year");
    // A caption with a % of its own would be read as a place to fill: it is filled in per cell.
    if (caption.contains(QLatin1Char('%')))
        return QString();
    return text.arg(QStringLiteral("%1"), caption, QString::number(column - 1));
}

QString cellDescription(const InputSheet& sheet, const QString& ofColumn, int line, int column)
{
    if (!ofColumn.isNull())
        return ofColumn.arg(sectionOf(line));
    return QObject::tr("The amount of %1 in %2, month %3 of the fiscal year")
        .arg(sectionOf(line), sheet.lblYear(column - 2)->text())
        .arg(column - 1);
}

// Names every cell whose line or column changed its name: "Rent, Mar-27", "Rent, industry
// percentage". Only what changed is set again, so typing a name says nothing to the others.
// (Only while an assistive tool listens: see InputSheet::describe.)
void describeCells(const InputSheet& sheet, int onlyColumn = -1)
{
    const std::array<QString, kLineCount> labels = lineLabels(sheet);
    for (int column = 0; column < kColumnCount; ++column) {
        if (onlyColumn >= 0 && column != onlyColumn)
            continue;
        const QString columnName = QLatin1String(", ") + columnLabel(sheet, column);
        QString ofColumn;
        bool described = false;
        for (int line = 0; line < kLineCount; ++line) {
            SheetCell* c = sheet.cell(line, column);
            const QString current = c->accessibleName();
            // Compared in its two parts: most names stay as they are, and are not put together.
            if (current.size() == labels[line].size() + columnName.size() && current.startsWith(labels[line])
                && current.endsWith(columnName))
                continue;
            if (!described) {
                ofColumn = columnDescription(sheet, column);
                described = true;
            }
            c->setAccessibleName(labels[line] + columnName);
            c->setAccessibleDescription(cellDescription(sheet, ofColumn, line, column));
        }
    }
}

} // namespace

// Grey heading: single-line border, centred caption.
CaptionLabel* InputSheet::heading(const QString& objectName, const QString& caption, int left, int top, int width,
                                  int height)
{
    auto* l = new CaptionLabel(caption, mFrame1);
    name(l, objectName, ControlKind::Label);
    l->setGeometry(twipsRect(left, top, width, height));
    l->setFrameStyle(QFrame::Box | QFrame::Plain);
    l->setLineWidth(1);
    l->setAlignment(Qt::AlignCenter);
    setBackColour(l, kHeadingGrey);
    l->fit();
    mCaptions << l;
    return l;
}

// A caption beside a control; it may grow to the right up to `roomRight` twips from its left.
CaptionLabel* InputSheet::plainLabel(const QString& objectName, const QString& caption, int left, int top, int width,
                                     int height, int roomRight)
{
    auto* l = new CaptionLabel(caption, mFrame1);
    name(l, objectName, ControlKind::Label);
    l->setGeometry(twipsRect(left, top, width, height));
    setBackColour(l, kWhite);
    l->setRoomToGrow(twipsToPixels(roomRight));
    l->fit();
    mCaptions << l;
    return l;
}

InputSheet::InputSheet(QWidget* form, SettingsStore& store) : QObject(form), mForm(form), mInputs(store)
{
    useCellStandIns();
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
    // The wheel over any part of the sheet reaches the viewport unless a control takes it.
    mPicture1->installEventFilter(this);
    mVscroll->installEventFilter(this);

    mFrame1 = new QGroupBox(QStringLiteral("Your Company Data"), mPicture2);
    name(mFrame1, QStringLiteral("Frame1"), ControlKind::Frame);
    mFrame1->setGeometry(twipsRect(kFrame1Left, kFrame1Top, kFrame1Width, kFrame1Height));
    setBackColour(mFrame1, kWhite);

    // The cells first, line by line, so the natural focus chain already runs in tab order.
    for (int line = 0; line < kLineCount; ++line) {
        const int top = lineTop(line);
        mNames[line] = makeCell(CellKind::LineName, kNameColumn, line,
                                QRect(kNameLeft, top, kNameWidth, kCellHeight), designName(line));
        mNames[line]->setToolTip(designName(line));
        // White behind the box and inside it, in one change of its palette.
        QPalette p = mNames[line]->palette();
        p.setColor(QPalette::Window, kWhite);
        p.setColor(QPalette::Base, kWhite);
        mNames[line]->setPalette(p);
        mNames[line]->setAutoFillBackground(true);

        mInds[line] = makeCell(CellKind::IndPercent, kIndColumn, line,
                               QRect(kIndLeft, top, kIndWidth, kCellHeight), QStringLiteral("0"));
        mInds[line]->setAlignment(Qt::AlignCenter);
        for (int m = 1; m <= kMonthCount; ++m) {
            SheetCell* c = makeCell(CellKind::MonthAmount, monthColumn(m), line,
                                    QRect(monthLeft(m), top, kMonthWidth, kCellHeight), QString());
            c->setAlignment(Qt::AlignCenter);
            mMonths[m - 1][line] = c;
        }
    }

    mDtPicker = new DatePicker(mFrame1);
    // The input controls are named as their keys in the store.
    name(mDtPicker, InputKey::fiscalStart().name(), ControlKind::DatePicker);
    mDtPicker->setGeometry(twipsRect(7740, 397, 1530, 360));
    mDtPicker->setCalendarPopup(true);
    mDtPicker->setDisplayFormat(QStringLiteral("dd-MMM-yyyy"));
    mDtPicker->setDateRange(kFirstDate, kLastDate);
    mDtPicker->setFocusPolicy(Qt::StrongFocus);   // no focus change by the mouse wheel
    // Every month's date shows whole ("30-Sept.-2025" under German settings): the picker grows to
    // the right, where the company row has room.
    mDtPicker->fitDates(twipsToPixels(kFrame1Width - 7740 - 240));
    mDtPicker->setFocusArrivedHandler([this] { bringTopRowIntoView(mDtPicker); });
    connect(mDtPicker, &QDateEdit::dateChanged, this, &InputSheet::dateChanged);

    mCompany = new SheetCell(CellKind::CompanyName, -1, 0, mFrame1);
    name(mCompany, InputKey::companyName().name(), ControlKind::TextBox);
    mCompany->setGeometry(twipsRect(1710, 412, 3390, 330));
    mCompany->setFocusHandler(this);
    connect(mCompany, &QLineEdit::textChanged, this, [this](const QString& t) { cellChanged(mCompany, t); });

    // The two captions of the company row may use the room up to the box beside them.
    plainLabel(QStringLiteral("Label7"), QStringLiteral("Company Name"), 150, 465, 1335, 225, 1710 - kLabelGap - 150);
    plainLabel(QStringLiteral("Label8"), QStringLiteral("Fiscal Year Begins"), 6000, 465, 1560, 225,
               7740 - kLabelGap - 6000);

    mHeaderRow << heading(QStringLiteral("Label1"), QStringLiteral("Revenue (Sales)"), kNameLeft, kHeaderTop,
                          kNameWidth, kHeaderHeight);
    mHeaderRow << heading(QStringLiteral("Label4"), QStringLiteral("IND. %"), kIndLeft, kHeaderTop, kIndWidth,
                          kHeaderHeight);
    mHeaderRow.back()->setToolTip(QStringLiteral("industry average: this line as a percentage of sales"));
    for (int i = 0; i < kMonthCount; ++i) {
        mLblYear[i] = heading(arrayName(QStringLiteral("lblYear"), i), QStringLiteral("IND. %"), monthLeft(i + 1),
                              kHeaderTop, kMonthWidth, kHeaderHeight);
        mHeaderRow << mLblYear[i];
    }
    heading(QStringLiteral("Label2"), QStringLiteral("Cost of Sales"), 120, 3510, 1800, 360);
    heading(QStringLiteral("Label5"), QString(), 1905, 3510, 11265, 360);
    heading(QStringLiteral("Label3"), QStringLiteral("Expenses"), 120, 6060, 1800, 360);
    heading(QStringLiteral("Label6"), QString(), 1905, 6060, 11265, 360);

    mGate = new LeaveGate(form);

    // Every input says what it is and where: the cells their line and column, the company row
    // its captions (not the frame's, which a reader would otherwise repeat for all of them).
    mCompany->setAccessibleName(QStringLiteral("Company Name"));
    mCompany->setAccessibleDescription(tr("The name of the company, shown at the top of the projection"));
    mDtPicker->setAccessibleName(QStringLiteral("Fiscal Year Begins"));
    mDtPicker->setAccessibleDescription(tr("The first day of the fiscal year; the month columns follow from it"));
    mVscroll->setAccessibleName(tr("Scroll the lines"));
    // The cells are named once their lines and months are known: at the end of start-up, at the
    // first change outside it, or when the sheet is first shown, whichever comes first. (The
    // design names and captions would only be named over again.) Names are for assistive tools:
    // while none listens they wait, and a tool that starts listening finds them all given.
    mDescriptionsPending = true;
    for (int line = 0; line < kLineCount; ++line)
        connect(mNames[line], &QLineEdit::textChanged, this, [this] { describe(); });
    whenAssistiveToolArrives(this, [this] {
        if (mDescriptionsPending && mDescriptionsHeld == 0)
            describe();
    });
    mEditing = new SheetEditing(*this);
}

InputSheet::~InputSheet() = default;

void InputSheet::describe(int onlyColumn)
{
    if (mDescriptionsHeld > 0 || !assistiveToolListening()) {
        mDescriptionsPending = true;
    } else if (mDescriptionsPending) {
        mDescriptionsPending = false;
        describeCells(*this);
    } else {
        describeCells(*this, onlyColumn);
    }
}

void InputSheet::holdDescriptions()
{
    ++mDescriptionsHeld;
}

void InputSheet::releaseDescriptions()
{
    if (--mDescriptionsHeld > 0 || !mDescriptionsPending)
        return;
    describe();
}

SheetCell* InputSheet::makeCell(CellKind kind, int column, int line, const QRect& twips, const QString& designText)
{
    // The design text is no change: it comes with the box, before any change handler.
    auto* c = new SheetCell(kind, line, column >= monthColumn(1) ? column - 1 : 0, designText, mFrame1);
    c->setObjectName(arrayName(inputControlName(column), line));   // a text box by its own making
    c->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
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

int InputSheet::columnOf(const SheetCell* cell)
{
    switch (cell->kind()) {
    case CellKind::LineName:
        return kNameColumn;
    case CellKind::IndPercent:
        return kIndColumn;
    case CellKind::MonthAmount:
        return monthColumn(cell->month());
    case CellKind::CompanyName:
        break;
    }
    return -1;
}

ProjectionInputs InputSheet::inputs() const
{
    ProjectionInputs in;
    in.companyName = mCompany->text();
    in.fiscalStart = mDtPicker->date();
    for (int line = 0; line < kLineCount; ++line)
        for (int column = 0; column < kColumnCount; ++column)
            in.setCell(line, column, cell(line, column)->text());
    return in;
}

void InputSheet::cellChanged(SheetCell* cell, const QString& text)
{
    // Write-through: the store always holds the cell's whole current text.
    if (cell->kind() == CellKind::CompanyName)
        mInputs.saveCompanyName(text);
    else
        mInputs.saveCell(cell->line(), columnOf(cell), text);
    if (cell->kind() == CellKind::LineName)
        cell->setToolTip(text);
}

void InputSheet::dateChanged(const QDate& date)
{
    mInputs.saveFiscalStart(date);
    applyMonthHeaders(date);
    mEditing->dateChanged(date);
}

void InputSheet::applyMonthHeaders(const QDate& start)
{
    for (int i = 0; i < kMonthCount; ++i)
        setMonthCaption(i, monthCaption(start, i));
}

void InputSheet::setMonthCaption(int i, const QString& caption)
{
    mLblYear.at(i)->setCaption(caption);
    describe(monthColumn(i + 1));
    mLblYear.at(i)->setToolTip(QStringLiteral("Month %1 of the fiscal year (%2): the amount of each line in that month")
                                   .arg(i + 1)
                                   .arg(caption));
}

bool InputSheet::allowLeave(SheetCell* cell)
{
    LeaveDecision d;
    try {
        d = leaveDecision(cell->kind(), cell->text());
    } catch (const std::exception&) {
        mEditing->cellCommitted(cell);
        return true;   // a text the checks cannot judge is left as it is
    }
    if (d.allowed) {
        if (d.replacement && *d.replacement != cell->text())
            cell->setText(*d.replacement);
        mEditing->cellCommitted(cell);
        return true;
    }
    // Message first, then the replacement text (stored by the change), then the focus stays;
    // the selection waits until the focus has settled back in the cell.
    Dialogs::inform(d.message, mForm);
    if (d.replacement)
        cell->setText(*d.replacement);
    // The refused text's replacement is a step of its own: one undo brings the old text back.
    mEditing->cellCommitted(cell);
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
    mEditing->cellEntered(cell);
    if (cell->kind() == CellKind::CompanyName) {
        bringTopRowIntoView(cell);
        return;
    }
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
    Guard g(Procedure::LineNameFocus);
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
    keepHeaderInView(scrollValue);
}

void InputSheet::keepHeaderInView(int scrollValue)
{
    // Once the caption row would scroll out at the top, it stays at the viewport's top edge and
    // the lines pass under it; the name column's caption names the section at the top.
    const int top = std::max(kHeaderTop, scrollValue - kFrame1Top);
    const int firstVisible = top + kHeaderHeight;   // in the frame's twips
    QString section = QStringLiteral("Revenue (Sales)");
    if (top > kHeaderTop) {
        if (firstVisible >= lineTop(14) - 360)
            section = QStringLiteral("Expenses");
        else if (firstVisible >= lineTop(7) - 360)
            section = QStringLiteral("Cost of Sales");
    }
    for (CaptionLabel* l : std::as_const(mHeaderRow)) {
        l->move(l->x(), twipsToPixels(top));
        l->raise();
    }
    if (!mHeaderRow.isEmpty() && mHeaderRow.front()->text() != section)
        mHeaderRow.front()->setCaption(section);
}

bool InputSheet::cellKey(SheetCell* cell, QKeyEvent* e)
{
    return mEditing->cellKey(cell, e);
}

bool InputSheet::wantsCellKey(SheetCell* cell, QKeyEvent* e)
{
    return SheetEditing::wantsKey(cell, e);
}

QMenu* InputSheet::cellMenu(SheetCell* cell)
{
    return mEditing->cellMenu(cell);
}

void InputSheet::bringTopRowIntoView(QWidget* control)
{
    // The company name and the date sit at the top of the sheet: scrolled out of sight, the
    // sheet goes back to its top, so nothing is typed into a box the user cannot see.
    const int top = pixelsToTwips(control->mapTo(mPicture2, QPoint(0, 0)).y());
    if (top < mVscroll->value())
        mVscroll->setValue(0);
}

bool InputSheet::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched == mPicture1 && mDescriptionsPending && mDescriptionsHeld == 0)
        describe();
    if (event->type() == QEvent::Wheel && (watched == mPicture1 || watched == mVscroll)) {
        wheelScroll(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void InputSheet::wheelScroll(QWheelEvent* e)
{
    e->accept();
    const QPoint pixels = e->pixelDelta();
    double twips = 0;
    if (!pixels.isNull()) {
        twips = pixelsToTwips(pixels.y());   // a touchpad: the sheet follows the fingers
    } else {
        // A wheel: 120 to the notch (finer on smooth wheels), a few lines of the sheet each.
        const int lines = std::max(1, QApplication::wheelScrollLines());
        twips = e->angleDelta().y() / 120.0 * lines * kLinePitch;
    }
    mWheelTwips += twips;
    const int move = static_cast<int>(std::trunc(mWheelTwips));
    mWheelTwips -= move;
    if (move == 0)
        return;
    const int value = std::clamp(mVscroll->value() - move, mVscroll->minimum(), mVscroll->maximum());
    if (value == mVscroll->minimum() || value == mVscroll->maximum())
        mWheelTwips = 0;   // nothing saved up against an end
    mVscroll->setValue(value);
}

} // namespace corvantis::sheet
