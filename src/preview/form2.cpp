#include "preview/form2.h"

#include "app/apptitle.h"
#include "app/guard.h"
#include "app/theme.h"
#include "app/twips.h"
#include "preview/picturebox.h"
#include "workbook/files.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

#include <cmath>

namespace corvantis {

namespace {

constexpr int kClientWidth = 9840;    // 656 x 624 pixels
constexpr int kClientHeight = 9360;
// The unscaled picture is the auto-sized box less the border it had around the picture.
constexpr int kBorderAllowance = pixelsToTwips(2);
constexpr int kScrollMaximumAtStart = 32767;
constexpr int kWidthLimit = 26000;
constexpr int kHeightLimit = 18000;

int nearest(double x)
{
    return int(std::nearbyint(x));   // the default rounding mode sends halves to the even neighbour
}

void tag(QWidget* w, const char* name, const char* kind)
{
    w->setObjectName(QString::fromLatin1(name));
    w->setProperty("kind", QString::fromLatin1(kind));
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
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Form2"));
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
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
    Picture2 = new PictureBox(this, 1, true);
    tag(Picture2, "Picture2", "PictureBox");
    Picture2->setGeometryTwips(120, 120, 9330, 7425);

    Picture1 = new PictureBox(Picture2->clientArea(), 1);
    tag(Picture1, "Picture1", "PictureBox");
    Picture1->setGeometryTwips(0, 0, 2340, 3435);

    VScroll1 = new QScrollBar(Qt::Vertical, this);
    tag(VScroll1, "VScroll1", "ScrollBar");
    VScroll1->setGeometry(twipsRect(9450, 120, 255, 7425));
    HScroll1 = new QScrollBar(Qt::Horizontal, this);
    tag(HScroll1, "HScroll1", "ScrollBar");
    HScroll1->setGeometry(twipsRect(120, 7545, 9330, 255));
    for (QScrollBar* bar : {HScroll1, VScroll1}) {
        bar->setRange(0, kScrollMaximumAtStart);
        bar->setTracking(false);   // the picture follows the thumb when it is let go
    }

    Zoom_Ori = new PictureBox(this, 0);
    tag(Zoom_Ori, "Zoom_Ori", "PictureBox");
    Zoom_Ori->setGeometryTwips(10320, 480, 735, 375);
    Zoom_Ori->hide();

    Frame1 = new QGroupBox(QStringLiteral("Zoom:"), this);
    tag(Frame1, "Frame1", "Frame");
    Frame1->setGeometry(twipsRect(120, 7860, 9600, 855));
    setWhite(Frame1);

    QFont buttonFont(QStringLiteral("Arial"));
    buttonFont.setPointSizeF(11.25);
    buttonFont.setBold(true);
    auto button = [&](QWidget* parent, const char* name, const QString& caption, QRect at) {
        auto* b = new QPushButton(caption, parent);
        tag(b, name, "PushButton");
        b->setFont(buttonFont);
        b->setGeometry(at);
        b->setAutoDefault(false);
        return b;
    };
    PushButton1 = button(Frame1, "PushButton1", QStringLiteral("Zoom In"), twipsRect(240, 300, 4440, 405));
    PushButton2 = button(Frame1, "PushButton2", QStringLiteral("Zoom Out"), twipsRect(4800, 300, 4560, 405));
    PushButton6 = button(this, "PushButton6", QStringLiteral("Save Results To Excel File"),
                         twipsRect(4920, 8850, 4800, 405));
    PushButton8 = button(this, "PushButton8", QStringLiteral("< Back"), twipsRect(120, 8850, 4680, 405));

    mPointer = std::make_unique<PointerRules>(*this);
    for (QWidget* b : {PushButton1, PushButton2, PushButton6, PushButton8})
        mPointer->addHandWidget(b);
    mPointer->addPlainWidget(this);
    mPointer->addPlainWidget(Frame1);

    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
    connect(PushButton8, &QPushButton::clicked, this, [this] { PushButton8_Click(); });
    connect(HScroll1, &QScrollBar::valueChanged, this, [this] { HScroll1_Change(); });
    connect(VScroll1, &QScrollBar::valueChanged, this, [this] { VScroll1_Change(); });
    connect(Picture1, &PictureBox::mouseDown, this, &Form2::picture1_MouseDown);
    connect(Picture1, &PictureBox::mouseMove, this, &Form2::picture1_MouseMove);
    connect(Picture1, &PictureBox::mouseUp, this, &Form2::Picture1_MouseUp);
}

void Form2::Form_Load()
{
    Guard g("Form2", "Form_Load");
    g.step(100, [&] { mFirstActivate = true; });
    g.step(102, [&] { ApplyFormColours(*this); });
    g.step(104, [&] {
        setWindowTitle(QString::fromLatin1(kProductTitle));
        setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    });
    bool haveCursor = false;
    g.step(108, [&] { haveCursor = FileExists(handCursorPath()); });
    if (haveCursor) {
        g.step(110, [&] {
            const auto cursor = loadCursorFile(handCursorPath());
            if (!cursor)
                throw StepError(QStringLiteral("Invalid picture"));
            mPointer->setMouseIcon(cursor);
        });
    }
}

void Form2::setPicture(const QPixmap& picture)
{
    Picture1->setPicture(picture);
    // A new snapshot needs the set-up again, or a zoom would repaint the previous picture.
    mFirstActivate = true;
}

void Form2::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Form_Activate();
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
    if (mFirstActivate)
        Form_Activate();
}

void Form2::Form_Activate()
{
    Guard g("Form2", "Form_Activate");
    bool setUp = false;
    g.step(100, [&] { setUp = mFirstActivate; });
    if (setUp) {
        g.step(104, [&] { Picture1->setAutoRedraw(true); });
        g.step(106, [&] { Picture1->setAutoSize(true); });
        g.step(110, [&] { Picture1->setBackColour(QColor(255, 255, 255)); });
        g.step(114, [&] { Zoom_Ori->setAutoRedraw(true); });
        g.step(116, [&] { Zoom_Ori->hide(); });
        g.step(118, [&] { Zoom_Ori->setOuterWidth(Picture1->outerWidth()); });
        g.step(120, [&] { Zoom_Ori->setOuterHeight(Picture1->outerHeight()); });
        g.step(122, [&] { Zoom_Ori->setPicture(Picture1->picture()); });
        g.step(124, [&] { mZoom = 1.0f; });
        g.step(126, [&] { mBaseWidth = nearest(Zoom_Ori->innerWidth() - kBorderAllowance); });
        g.step(128, [&] { mBaseHeight = nearest(Zoom_Ori->innerHeight() - kBorderAllowance); });
        g.step(130, [&] { mZoomWidth = int(std::floor(double(mBaseWidth) * 1)); });
        g.step(132, [&] { mZoomHeight = int(std::floor(double(mBaseHeight) * 1)); });
        g.step(134, [&] { RedrawImage(); });
        g.step(136, [&] { ResetScrollBars(); });
    }
    g.step(138, [&] { mFirstActivate = false; });
}

void Form2::RedrawImage()
{
    Guard g("Form2", "RedrawImage");
    g.step(100, [&] { mZoomWidth = int(std::floor(double(mBaseWidth) * double(mZoom))); });
    g.step(102, [&] { mZoomHeight = int(std::floor(double(mBaseHeight) * double(mZoom))); });
    bool fits = false;
    g.step(104, [&] { fits = mZoomWidth < kWidthLimit && mZoomHeight < kHeightLimit; });
    if (fits) {
        g.step(106, [&] { Picture1->clearPicture(); });
        g.step(108, [&] { Picture1->setOuterWidth(mZoomWidth); });
        g.step(110, [&] { Picture1->setOuterHeight(mZoomHeight); });
        g.step(112, [&] {
            Picture1->paintPicture(Zoom_Ori->picture(), QRect(0, 0, mZoomWidth, mZoomHeight),
                                   QRect(0, 0, mBaseWidth, mBaseHeight));
        });
        g.step(114, [&] { mPointer->setPointer(Pointer::Default); });
        g.step(116, [&] { HScroll1->setValue(0); });
        g.step(118, [&] { VScroll1->setValue(0); });
        g.step(120, [&] { HScroll1->setEnabled(Picture2->innerWidth() < mZoomWidth); });
        g.step(122, [&] { VScroll1->setEnabled(Picture2->innerHeight() < mZoomHeight); });
    } else {
        // Too large to paint: back to the unscaled sizes, the last picture stays on screen.
        g.step(124, [&] { mZoom = 1.0f; });
        g.step(126, [&] { mBaseWidth = nearest(Zoom_Ori->innerWidth() - kBorderAllowance); });
        g.step(128, [&] { mBaseHeight = nearest(Zoom_Ori->innerHeight() - kBorderAllowance); });
        g.step(130, [&] { mZoomWidth = int(std::floor(double(mBaseWidth) * 1)); });
        g.step(132, [&] { mZoomHeight = int(std::floor(double(mBaseHeight) * 1)); });
    }
}

namespace {

// Range and unit of one bar for an outer picture size against the outer viewport size.
void resetBar(QScrollBar* bar, int& step, int picture, int viewport)
{
    if (picture <= viewport) {
        bar->setEnabled(false);
        step = 0;
        return;
    }
    const int excess = picture - viewport;
    bar->setEnabled(true);
    if (excess <= 100) {
        step = 1;
        bar->setMaximum(excess);
    } else {
        step = 10;
        bar->setMaximum(nearest(excess / 10.0));
    }
    bar->setValue(0);
}

} // namespace

void Form2::ResetScrollBars()
{
    Picture1->moveTo(0, 0);
    resetBar(HScroll1, mHStep, Picture1->outerWidth(), Picture2->outerWidth());
    resetBar(VScroll1, mVStep, Picture1->outerHeight(), Picture2->outerHeight());
}

void Form2::PushButton1_Click()
{
    Guard g("Form2", "PushButton1_Click");
    g.step(100, [&] { ZoomStep(0); });
}

void Form2::PushButton2_Click()
{
    Guard g("Form2", "PushButton2_Click");
    g.step(100, [&] { ZoomStep(1); });
}

void Form2::ZoomStep(int direction)
{
    const float z = direction == 0 ? mZoom + 0.25f : mZoom - 0.25f;
    ApplyZoom(z);
}

void Form2::ApplyZoom(float factor)
{
    if (factor < 0.25f || factor > 2.0f)
        return;
    mZoom = factor;
    RedrawImage();
    // The bars' ranges must describe the picture as it is now, not the unscaled one.
    ResetScrollBars();
}

} // namespace corvantis
