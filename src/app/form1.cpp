#include "app/form1.h"

#include "app/theme.h"
#include "core/apptitle.h"
#include "core/dialogs.h"
#include "core/files.h"
#include "core/guard.h"
#include "core/numbertext.h"
#include "core/projectioninputs.h"
#include "core/programfolder.h"
#include "core/rounding.h"
#include "core/settingsstore.h"
#include "core/twips.h"
#include "sheet/inputsheet.h"
#include "sheet/monthheaders.h"
#include "sheet/sampledata.h"
#include "sheet/sheetediting.h"
#include "ui/buttonkeys.h"
#include "ui/controlkind.h"
#include "ui/cursor.h"
#include "ui/focusring.h"
#include "ui/pointerrules.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateEdit>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>

namespace corvantis {

using sheet::kLineCount;
using sheet::kMonthCount;

namespace {

QPushButton* makeButton(QWidget* parent, const char* objectName, const char* caption, int left, int top, int width,
                        int height)
{
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(objectName));
    setControlKind(b, ControlKind::PushButton);
    b->setGeometry(twipsRect(left, top, width, height));
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(11.25);
    f.setBold(true);
    b->setFont(f);
    return b;
}

} // namespace

Form1::Form1(QWidget* parent) : Form1(Services{}, parent) {}

Form1::Form1(Services services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowCloseButtonHint)
    , mServices(std::move(services))
    , mStore(mServices.store ? mServices.store : &SettingsStore::standard())
{
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(twipsToPixels(14160), twipsToPixels(8610));
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(9);
    font.setBold(true);
    setFont(font);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setAutoFillBackground(true);

    mSheet = new sheet::InputSheet(this, *mStore);
    {
        // The picker's design value until start-up reads the stored date.
        const QSignalBlocker quiet(DTPicker1());
        DTPicker1()->setDate(today());
    }
    mPushButton22 = makeButton(this, "PushButton22", "Start Creating Template", 120, 120, 13920, 400);
    mPushButton6 = makeButton(this, "PushButton6", "Help", 120, 630, 6840, 405);
    mPushButton7 = makeButton(this, "PushButton7", "Load Sample/Example Data", 7200, 630, 6840, 405);
    connect(mPushButton22, &QPushButton::clicked, this, &Form1::generateRequested);
    connect(mPushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(mPushButton7, &QPushButton::clicked, this, &Form1::PushButton7_Click);
    for (QPushButton* b : {mPushButton22, mPushButton6, mPushButton7})
        pressOnEnter(b);

    // Undo and redo across the sheet wherever the focus is; a cell takes these keys itself.
    auto shortcut = [this](const QKeySequence& keys, void (sheet::SheetEditing::*run)()) {
        auto* s = new QShortcut(keys, this);
        connect(s, &QShortcut::activated, this, [this, run] { (mSheet->editing().*run)(); });
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), &sheet::SheetEditing::undo);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Y), &sheet::SheetEditing::redo);
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &sheet::SheetEditing::redo);
    mFocusRing = new FocusRing(this);

    mPointer = std::make_unique<PointerRules>(*this);
    for (QPushButton* b : {mPushButton22, mPushButton6, mPushButton7})
        mPointer->addHandWidget(b);
    mPointer->addPlainWidget(this);
    mPointer->addPlainWidget(mSheet->Frame1());
    mPointer->addPlainWidget(mSheet->txtCompanyName());
    mPointer->addPlainWidget(mSheet->DTPicker1());
    for (int line = 0; line < kLineCount; ++line) {
        for (int column = 0; column < sheet::kColumnCount; ++column)
            mPointer->addPlainWidget(mSheet->cell(line, column));
    }

    // First position: centred on the screen.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

Form1::~Form1() = default;

QDate Form1::today() const
{
    return mServices.today ? mServices.today() : QDate::currentDate();
}

QLineEdit* Form1::txtRevenue(int line) const { return mSheet->txtRevenue(line); }
QLineEdit* Form1::txtInd(int line) const { return mSheet->txtInd(line); }
QLineEdit* Form1::txtYear(int month1to12, int line) const { return mSheet->txtYear(month1to12, line); }
QLineEdit* Form1::txtCompanyName() const { return mSheet->txtCompanyName(); }
QDateEdit* Form1::DTPicker1() const { return mSheet->DTPicker1(); }
QLabel* Form1::lblYear(int i) const { return mSheet->lblYear(i); }
QScrollBar* Form1::VScroll1() const { return mSheet->VScroll1(); }
QWidget* Form1::Picture1() const { return mSheet->Picture1(); }
QWidget* Form1::Picture2() const { return mSheet->Picture2(); }

void Form1::Form_Load()
{
    Guard g(Procedure::MainLoad);
    // Start-up changes hundreds of cells; they reach the disk in one write when it ends.
    SettingsStore::Batch batch(*mStore);
    // Every line's name and every month's caption change: the cells are named once, at the end.
    const sheet::InputSheet::DescriptionHold described(*mSheet);
    g.step(100, [&] { ApplyMainTheme(*this); });
    g.step(102, [&] {
        setWindowTitle(QString::fromLatin1(kProductTitle));
        setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
        setApplicationTitle(applicationTitleFrom(QString::fromLatin1(kProductTitle)));
    });
    setUpdatesEnabled(false);   // 104
    LoadHandCursor(g, 106, 108, *mPointer);

    QScrollBar* bar = VScroll1();
    const double viewport = pixelsToTwips(Picture1()->height());
    const double content = pixelsToTwips(Picture2()->height());
    g.step(128, [&] { bar->setMaximum(toInt16(content - viewport)); });
    g.step(130, [&] { bar->setPageStep(toInt16(viewport - viewport / 4)); });
    g.step(132, [&] { bar->setSingleStep(toInt16(viewport - viewport * 3 / 4)); });
    Picture2()->move(Picture2()->x(), 0);   // 134

    // The stored amounts, percentages and date were written in the locale the store names; each
    // is read in that locale and shown (and so stored) in today's. A store without the name is
    // read as it always was, in today's locale.
    StoredInputs& stored = mSheet->storedInputs();

    g.step(136, [&] { txtCompanyName()->setText(stored.companyName(txtCompanyName()->text())); });
    const QString storedDate = stored.fiscalStartText();
    g.step(138, [&] { DTPicker1()->setDate(stored.fiscalStart(today())); });
    // The store keeps the date the window shows, in today's form: a date written under another
    // locale is stored again in this one, and one that could not be read is reported once, not
    // at every start.
    if (!storedDate.isNull() && storedDate != sheet::dateSettingText(DTPicker1()->date()))
        stored.saveFiscalStart(DTPicker1()->date());
    for (int i = 0; i < kMonthCount; ++i)
        g.step(142, [&] { mSheet->setMonthCaption(i, sheet::monthCaption(DTPicker1()->date(), i)); });

    for (int line = 0; line < kLineCount; ++line) {
        QLineEdit* name = txtRevenue(line);
        g.step(146, [&] { name->setText(stored.lineName(line)); });
        name->setToolTip(name->text());   // 148
        g.step(150, [&] {
            const QString shown = stored.indPercent(line);
            txtInd(line)->setText(shown);
            if (shown != stored.storedIndPercent(line))
                stored.saveCell(line, kIndColumn, shown);
        });
        for (int m = 1; m <= kMonthCount; ++m) {
            sheet::SheetCell* cell = mSheet->txtYear(m, line);
            g.step(152 + 2 * (m - 1), [&] {
                try {
                    // A text that was never read as an amount is shown as typed, marked.
                    const StoredInputs::ShownAmount amount = stored.shownAmount(line, m);
                    cell->setText(amount.text);
                    cell->setUnreadable(amount.keptAsTyped);
                } catch (...) {
                    // An unreadable stored amount leaves a sane cell behind before it is reported.
                    cell->setText(FormatAmount(QStringLiteral("0"), 2));
                    throw;
                }
            });
        }
    }

    // Every stored text is now in today's locale: the store says so.
    if (stored.localeMarkNeeded())
        stored.markTextsInCurrentLocale();

    // Until a date is stored, the first input typed after start-up stores the date shown with
    // it, so the months stay over their figures on every later day.
    if (storedDate.isNull()) {
        auto keepDate = [this] { mSheet->storedInputs().keepFiscalStart(DTPicker1()->date()); };
        connect(txtCompanyName(), &QLineEdit::textChanged, this, keepDate);
        for (int line = 0; line < kLineCount; ++line) {
            for (int column = 0; column < sheet::kColumnCount; ++column)
                connect(mSheet->cell(line, column), &QLineEdit::textChanged, this, keepDate);
        }
    }

    // Tab order: line by line, name, IND. %, months 1-12; then the date, the company name, the buttons.
    QWidget* previous = nullptr;
    for (int line = 0; line < kLineCount; ++line) {
        const int base = line == 0 ? 178 : 206;
        for (int column = 0; column < sheet::kColumnCount; ++column) {
            QWidget* cell = mSheet->cell(line, column);
            g.step(base + 2 * column, [&] {
                if (previous)
                    QWidget::setTabOrder(previous, cell);
            });
            previous = cell;
        }
    }
    g.step(232, [&] {
        QWidget* chain[] = {previous, DTPicker1(), txtCompanyName(), mPushButton22, mPushButton6, mPushButton7};
        for (size_t i = 1; i < std::size(chain); ++i)
            QWidget::setTabOrder(chain[i - 1], chain[i]);
        txtRevenue(0)->setFocus(Qt::OtherFocusReason);
    });

    setUpdatesEnabled(true);   // 234
    // From here on every change the user makes is a step of the sheet's history.
    mSheet->editing().startRecording();
    g.step(236, [&] {
        if (mServices.excelProbe)
            mServices.excelProbe();
    });
}

void Form1::PushButton6_Click()
{
    Guard g(Procedure::MainHelp);
    g.step(100, [&] {
        Dialogs::inform(QStringLiteral("Questions? Please contact Team Kestrelon at ") + mServices.contactAddress, this);
    });
}

void Form1::PushButton7_Click()
{
    // A couple of dozen cells change at once; they reach the disk in one write at the end.
    SettingsStore::Batch batch(*mStore);
    // One step: a single undo takes the whole example back out of the user's figures.
    mSheet->editing().asOneStep(QStringLiteral("Load Sample/Example Data"),
                                [this] { sheet::loadSampleData(*mSheet, today()); });
}

void Form1::closeEvent(QCloseEvent* e)
{
    // Text still being typed is checked as leaving its cell would check it: a refused one keeps
    // the window open with the focus in that cell, an accepted amount is stored in its currency
    // form. Every other input is already stored.
    if (auto* cell = qobject_cast<sheet::SheetCell*>(focusWidget()); cell && isVisible() && cell->focusHandler()
        && !cell->focusHandler()->allowLeave(cell)) {
        e->ignore();
        return;
    }
    // The program ends at once, without closing other windows.
    e->accept();
    QCoreApplication::exit(0);
}

} // namespace corvantis
