#include "preview/form2.h"

#include "core/apptitle.h"
#include "core/files.h"
#include "core/guard.h"
#include "core/numbertext.h"
#include "core/rounding.h"
#include "core/programfolder.h"
#include "core/twips.h"
#include "preview/picturebox.h"
#include "ui/buttonkeys.h"
#include "ui/controlkind.h"
#include "ui/cursor.h"
#include "ui/focusring.h"
#include "ui/pointerrules.h"
#include "ui/windowcolours.h"
#include "workbook/excelapp.h"
#include "workbook/sheetdrawing.h"
#include "spreadsheet/sidethreads.h"

#include <QCloseEvent>
#include <QPromise>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <optional>

namespace corvantis {

namespace {

// What a screen reader says of the picture: the company and the year's results, read from the
// workbook the picture shows. Empty when the workbook cannot be read.
QString pictureAlternative(const QString& workbookPath)
{
    if (workbookPath.isEmpty() || !FileExists(workbookPath))
        return {};
    try {
        Application app;
        const Worksheet sheet = app.Workbooks().Open(workbookPath, true).Worksheets(1);
        const QString company = sheet.Cells(2, 11).Text().trimmed();
        const QVariant sales = sheet.Cells(13, 28).Value();     // Total Revenue (Sales), year
        const QVariant profit = sheet.Cells(49, 28).Value();    // Net Profit, year
        QString out = QObject::tr("Projection of %1: total sales %2 for the year, net profit %3")
                          .arg(company.isEmpty() ? QObject::tr("the company") : company,
                               sales.isValid() ? FormatAmount(sales, 2) : QObject::tr("none"),
                               profit.isValid() ? FormatAmount(profit, 2) : QObject::tr("none"));
        app.Quit();
        return out;
    } catch (const std::exception&) {
        return {};
    }
}

constexpr int kClientWidth = 9840;    // 656 x 624 pixels
constexpr int kClientHeight = 9360;
// The unscaled picture is the auto-sized box less the border it had around the picture.
constexpr int kBorderAllowance = pixelsToTwips(2);
constexpr int kScrollMaximumAtStart = 32767;

void tag(QWidget* w, const char* name, ControlKind kind)
{
    w->setObjectName(QString::fromLatin1(name));
    setControlKind(w, kind);
}

void setWhite(QWidget* w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, Qt::white);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace

Form2::Form2(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Form2"));
    // Opens at the design size, which is also the least it shrinks to; it grows and maximises.
    setMinimumSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    resize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9);
    font.setBold(true);
    setFont(font);
    setWhite(this);
    createControls();
    Form_Load();
}

Form2::~Form2() = default;

void Form2::createControls()
{
    mPicture2 = new PictureBox(this, 1, true);
    tag(mPicture2, "Picture2", ControlKind::PictureBox);
    mPicture2->setGeometryTwips(120, 120, 9330, 7425);

    mPicture1 = new PictureBox(mPicture2->clientArea(), 1);
    tag(mPicture1, "Picture1", ControlKind::PictureBox);
    mPicture1->setGeometryTwips(0, 0, 2340, 3435);
    connect(&mDescribing, &QFutureWatcherBase::finished, mPicture1, [this] {
        if (mDescribing.future().resultCount() > 0)
            mPicture1->setAccessibleName(mDescribing.result());
    });

    mVScroll1 = new QScrollBar(Qt::Vertical, this);
    tag(mVScroll1, "VScroll1", ControlKind::ScrollBar);
    mVScroll1->setGeometry(twipsRect(9450, 120, 255, 7425));
    mHScroll1 = new QScrollBar(Qt::Horizontal, this);
    tag(mHScroll1, "HScroll1", ControlKind::ScrollBar);
    mHScroll1->setGeometry(twipsRect(120, 7545, 9330, 255));
    for (QScrollBar* bar : {mHScroll1, mVScroll1}) {
        bar->setRange(0, kScrollMaximumAtStart);
        bar->setTracking(true);   // the picture follows the thumb while it is dragged
        bar->installEventFilter(this);   // the wheel over a bar pans and zooms as over the picture
    }

    mZoom_Ori = new PictureBox(this, 0);
    tag(mZoom_Ori, "Zoom_Ori", ControlKind::PictureBox);
    mZoom_Ori->setGeometryTwips(10320, 480, 735, 375);
    mZoom_Ori->hide();

    mFrame1 = new QGroupBox(QStringLiteral("Zoom:"), this);
    tag(mFrame1, "Frame1", ControlKind::Frame);
    mFrame1->setGeometry(twipsRect(120, 7860, 9600, 855));
    setWhite(mFrame1);

    QFont buttonFont(QStringLiteral("Arial"));
    buttonFont.setPointSizeF(11.25);
    buttonFont.setBold(true);
    auto button = [&](QWidget* parent, const char* name, const QString& caption, QRect at) {
        auto* b = new QPushButton(caption, parent);
        tag(b, name, ControlKind::PushButton);
        b->setFont(buttonFont);
        b->setGeometry(at);
        b->setAutoDefault(false);
        return b;
    };
    mPushButton1 = button(mFrame1, "PushButton1", QStringLiteral("Zoom In"), twipsRect(240, 300, 4440, 405));
    mPushButton2 = button(mFrame1, "PushButton2", QStringLiteral("Zoom Out"), twipsRect(4800, 300, 4560, 405));
    mPushButton6 = button(this, "PushButton6", QStringLiteral("Save Results To Excel File"),
                         twipsRect(4920, 8850, 4800, 405));
    mPushButton8 = button(this, "PushButton8", QStringLiteral("< Back"), twipsRect(120, 8850, 4680, 405));

    mPointer = std::make_unique<PointerRules>(*this);
    for (QPushButton* b : {mPushButton1, mPushButton2, mPushButton6, mPushButton8}) {
        mPointer->addHandWidget(b);
        pressOnEnter(b);
    }
    new FocusRing(this);
    mPointer->addPlainWidget(this);
    mPointer->addPlainWidget(mFrame1);

    connect(mPushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(mPushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(mPushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
    connect(mPushButton8, &QPushButton::clicked, this, [this] { PushButton8_Click(); });
    connect(mHScroll1, &QScrollBar::valueChanged, this, [this] { HScroll1_Change(); });
    connect(mVScroll1, &QScrollBar::valueChanged, this, [this] { VScroll1_Change(); });
    connect(mPicture1, &PictureBox::mouseDown, this, &Form2::picture1_MouseDown);
    connect(mPicture1, &PictureBox::mouseMove, this, &Form2::picture1_MouseMove);
    connect(mPicture1, &PictureBox::mouseUp, this, &Form2::Picture1_MouseUp);
    mPicture1->installEventFilter(this);
    mPicture2->installEventFilter(this);
    createShortcuts();
}

void Form2::Form_Load()
{
    Guard g(Procedure::PreviewLoad);
    mView.awaitSetUp();   // 100
    g.step(102, [&] { ApplyFormColours(*this); });
    g.step(104, [&] {
        setWindowTitle(QString::fromLatin1(kProductTitle));
        setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    });
    LoadHandCursor(g, 108, 110, *mPointer);
}

void Form2::setPicture(const QPixmap& picture)
{
    mPicture1->setPicture(picture);
    // A new snapshot needs the set-up again, or a zoom would repaint the previous picture.
    mView.awaitSetUp();
}

void Form2::setExcelFile(const QString& path)
{
    if (path != mExcelFile) {
        mDrawing.reset();   // a picture still painting from it keeps its own reference
        mDrawingFailed = false;
    }
    mExcelFile = path;
    describePicture(path);
}

// The picture's name for screen readers says what the workbook holds; finding that out opens the
// workbook once more, which a side thread does while the window comes up. The name arrives a
// moment after the picture, and only the latest workbook's.
void Form2::describePicture(const QString& path)
{
    mPicture1->setAccessibleName(QString());
    auto promise = std::make_shared<QPromise<QString>>();
    promise->start();
    mDescribing.setFuture(promise->future());   // a description still being made for another is dropped
    try {
        ss::runBeside(0, [promise, path] {
            promise->addResult(pictureAlternative(path));
            promise->finish();
        });
    } catch (...) {
        promise->addResult(pictureAlternative(path));   // no side thread: made here
        promise->finish();
    }
}

void Form2::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Form_Activate();
}

void Form2::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The picture's viewport takes all the room the window gains; the bars, the zoom frame and
    // the buttons keep to its right and bottom edges, the buttons sharing the width.
    const int dw = std::max(0, pixelsToTwips(width()) - kClientWidth);
    const int dh = std::max(0, pixelsToTwips(height()) - kClientHeight);
    const bool setUp = mPlaced && !mView.setUpPending();
    const QPointF centre = setUp ? viewCentre() : QPointF();
    mPicture2->setGeometryTwips(120, 120, 9330 + dw, 7425 + dh);
    mVScroll1->setGeometry(twipsRect(9450 + dw, 120, 255, 7425 + dh));
    mHScroll1->setGeometry(twipsRect(120, 7545 + dh, 9330 + dw, 255));
    mFrame1->setGeometry(twipsRect(120, 7860 + dh, 9600 + dw, 855));
    const int half = dw / 2;
    mPushButton1->setGeometry(twipsRect(240, 300, 4440 + half, 405));
    mPushButton2->setGeometry(twipsRect(4800 + half, 300, 4560 + dw - half, 405));
    mPushButton8->setGeometry(twipsRect(120, 8850 + dh, 4680 + half, 405));
    mPushButton6->setGeometry(twipsRect(4920 + half, 8850 + dh, 4800 + dw - half, 405));
    if (setUp) {
        // The bars describe the new viewport; the same part of the picture stays in the middle.
        ResetScrollBars();
        centreOn(centre);
    }
}

void Form2::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!mPlaced) {
        mPlaced = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    // A pending set-up does not wait for the window manager to activate the window.
    if (mView.setUpPending())
        Form_Activate();
}

void Form2::Form_Activate()
{
    Guard g(Procedure::PreviewActivate);
    if (mView.setUpPending()) {   // 100
        g.step(104, [&] { mPicture1->setAutoRedraw(true); });
        g.step(106, [&] { mPicture1->setAutoSize(true); });
        g.step(110, [&] { mPicture1->setBackColour(QColor(255, 255, 255)); });
        g.step(114, [&] { mZoom_Ori->setAutoRedraw(true); });
        g.step(116, [&] { mZoom_Ori->hide(); });
        g.step(118, [&] { mZoom_Ori->setOuterWidth(mPicture1->outerWidth()); });
        g.step(120, [&] { mZoom_Ori->setOuterHeight(mPicture1->outerHeight()); });
        g.step(122, [&] { mZoom_Ori->setPicture(mPicture1->picture()); });
        resetToUnscaled();   // 124 to 132
        g.step(134, [&] { RedrawImage(mView.zoom()); });
        g.step(136, [&] { ResetScrollBars(); });
    }
    mView.setUpDone();   // 138
}

void Form2::resetToUnscaled()
{
    mView.setUp(nearestInt(mZoom_Ori->innerWidth() - kBorderAllowance),
                nearestInt(mZoom_Ori->innerHeight() - kBorderAllowance));
}

bool Form2::RedrawImage(float factor)
{
    Guard g(Procedure::PreviewRedraw);
    // 100 to 104: the scaled sizes, and whether the picture fits the budget. Refused, the
    // factor, the picture and the view stay exactly as they are.
    if (!mView.zoomTo(factor, devicePixelRatioF()))
        return false;
    const int width = mView.zoomWidth(), height = mView.zoomHeight();
    g.step(106, [&] { mPicture1->clearPicture(); });
    g.step(108, [&] { mPicture1->setOuterWidth(width); });
    g.step(110, [&] { mPicture1->setOuterHeight(height); });
    g.step(112, [&] { showZoomed(twipsToPixels(width), twipsToPixels(height)); });
    g.step(114, [&] { mPointer->setPointer(Pointer::Default); });
    g.step(116, [&] { mHScroll1->setValue(0); });
    g.step(118, [&] { mVScroll1->setValue(0); });
    g.step(120, [&] { mHScroll1->setEnabled(mPicture2->innerWidth() < width); });
    g.step(122, [&] { mVScroll1->setEnabled(mPicture2->innerHeight() < height); });
    mPicture1->setAccessibleDescription(tr("Zoom %1 %").arg(qRound(mView.zoom() * 100)));
    return true;
}

// Puts the picture at the current zoom into Picture1. At its natural size in the screen's own
// pixels it is the snapshot itself; smaller, the snapshot scaled smoothly; larger (a zoom above
// 100 %, or a screen of higher density) the workbook is painted afresh for whatever part is on
// screen, so text and lines stay sharp and no picture of the whole size is ever held. Should the
// workbook not open, the snapshot is scaled instead: a softer picture is better than none.
void Form2::showZoomed(int widthPixels, int heightPixels)
{
    const QPixmap& source = mZoom_Ori->picture();
    if (source.isNull())
        throw StepError(QStringLiteral("Invalid picture"));
    double ratio = devicePixelRatioF();
    if (ZoomPan::exceedsBudget(widthPixels, heightPixels, ratio))
        ratio = 1.0;   // only a picture no larger than the snapshot gets here: shown as on a plain screen
    const QSize device(std::max(1, int(std::lround(widthPixels * ratio))), std::max(1, int(std::lround(heightPixels * ratio))));
    if (device == source.size()) {
        QPixmap same = source;
        same.setDevicePixelRatio(ratio);
        mPicture1->setDrawnOutput(same);
        return;
    }
    if (device.width() > source.width() && openDrawing()) {
        std::shared_ptr<const SheetDrawing> drawing = mDrawing;
        const double scale = double(widthPixels) / std::max(1, drawing->size().width());
        mPicture1->setPainting([drawing](QPainter& painter) { drawing->paint(painter); }, scale);
        return;
    }
    QPixmap scaled = QPixmap::fromImage(source.toImage().scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    scaled.setDevicePixelRatio(ratio);
    mPicture1->setDrawnOutput(scaled);
}

// The workbook behind the picture, opened the first time it is needed.
bool Form2::openDrawing()
{
    if (mDrawing)
        return true;
    if (mExcelFile.isEmpty() || mDrawingFailed)
        return false;
    try {
        auto drawing = std::make_shared<SheetDrawing>(mExcelFile);
        drawing->open();
        mDrawing = std::move(drawing);
        return true;
    } catch (...) {
        mDrawingFailed = true;   // not again for this workbook
        return false;
    }
}

namespace {

// Applies a range: a picture that fits disables its bar and leaves its maximum and value alone.
void applyRange(QScrollBar* bar, const ZoomPan::ScrollRange& range)
{
    if (range.unit <= 0) {
        bar->setEnabled(false);
        return;
    }
    bar->setEnabled(true);
    bar->setMaximum(range.maximum);
    bar->setValue(0);
}

} // namespace

void Form2::ResetScrollBars()
{
    mPicture1->moveTo(0, 0);
    applyRange(mHScroll1, mView.setScrollRange(Qt::Horizontal, mPicture1->outerWidth(), mPicture2->outerWidth()));
    applyRange(mVScroll1, mView.setScrollRange(Qt::Vertical, mPicture1->outerHeight(), mPicture2->outerHeight()));
    setBarSteps();
}

// An arrow click moves about one row, a click in the trough one viewport; the thumb's length
// is the viewport's share of the picture.
void Form2::setBarSteps()
{
    auto apply = [this](QScrollBar* bar, Qt::Orientation axis, int viewport) {
        if (mView.unit(axis) <= 0)
            return;
        bar->setSingleStep(mView.arrowUnits(axis));
        bar->setPageStep(mView.pageUnits(axis, viewport));
    };
    apply(mHScroll1, Qt::Horizontal, mPicture2->innerWidth());
    apply(mVScroll1, Qt::Vertical, mPicture2->innerHeight());
}

void Form2::PushButton1_Click()
{
    Guard g(Procedure::PreviewZoomIn);
    g.step(100, [&] { ZoomStep(0); });
}

void Form2::PushButton2_Click()
{
    Guard g(Procedure::PreviewZoomOut);
    g.step(100, [&] { ZoomStep(1); });
}

void Form2::ZoomStep(int direction)
{
    ApplyZoom(mView.stepped(direction));
}

void Form2::ApplyZoom(float factor)
{
    if (!ZoomPan::isZoomFactor(factor))
        return;
    const QPointF centre = viewCentre();
    if (!RedrawImage(factor))
        return;
    // The bars' ranges must describe the picture as it is now, not the unscaled one.
    ResetScrollBars();
    centreOn(centre);
}

// The point of the picture at the viewport's centre, as a share of the picture's size.
QPointF Form2::viewCentre() const
{
    return QPointF(ZoomPan::centreShare(mPicture2->innerWidth(), mPicture1->outerWidth(), mPicture1->left()),
                   ZoomPan::centreShare(mPicture2->innerHeight(), mPicture1->outerHeight(), mPicture1->top()));
}

// Puts the point at `share` of the picture back at the viewport's centre, as near as the bars
// allow; a picture that fits the viewport stays at its edge.
void Form2::centreOn(const QPointF& share)
{
    auto place = [this](QScrollBar* bar, Qt::Orientation axis, int viewport, int picture, double at) {
        if (!bar->isEnabled())
            return;
        if (const std::optional<int> value = mView.centredValue(axis, at, viewport, picture, bar->maximum()))
            bar->setValue(*value);
    };
    place(mHScroll1, Qt::Horizontal, mPicture2->innerWidth(), mPicture1->outerWidth(), share.x());
    place(mVScroll1, Qt::Vertical, mPicture2->innerHeight(), mPicture1->outerHeight(), share.y());
}

} // namespace corvantis
