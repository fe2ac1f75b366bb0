// Colours, the skin file, the hand cursor file and the hover pointer rules.
#include "app/theme.h"
#include "ui/controlkind.h"
#include "ui/cursor.h"
#include "ui/pointerrules.h"
#include "ui/windowcolours.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace corvantis;

namespace {

QLabel* label(QWidget* parent, const char* name, const QColor& back)
{
    auto* l = new QLabel(QString::fromLatin1(name), parent);
    l->setObjectName(QString::fromLatin1(name));
    setControlKind(l, ControlKind::Label);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, back);
    l->setPalette(p);
    l->setAutoFillBackground(true);
    return l;
}

QColor back(const QWidget* w)
{
    return w->palette().color(QPalette::Window);
}

} // namespace

class ThemeTest : public QObject {
    Q_OBJECT

    QString skin() const { return QDir(QCoreApplication::applicationDirPath()).filePath("x/o.cjs"); }

private slots:
    void cleanup() { QFile::remove(skin()); }

    void mainThemeWithoutSkinKeepsWhite()
    {
        QFile::remove(skin());
        QWidget form;
        QPalette p = form.palette();
        p.setColor(QPalette::Window, Qt::white);
        form.setPalette(p);
        QLabel* caption = label(&form, "Label7", Qt::white);
        ApplyMainTheme(form);
        QCOMPARE(back(&form), QColor(Qt::white));
        QCOMPARE(back(caption), QColor(Qt::white));
        QVERIFY(form.styleSheet().isEmpty());
    }

    void mainThemeWithSkinKeepsHeadingsGreyAndCellsWhite()
    {
        QDir().mkpath(QFileInfo(skin()).absolutePath());
        QFile f(skin());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("QPushButton { border-radius: 4px; }");
        f.close();

        QWidget form;
        auto* frame = new QGroupBox("Your Company Data", &form);
        setControlKind(frame, ControlKind::Frame);
        QLabel* caption = label(frame, "Label7", Qt::white);
        QLabel* heading = label(frame, "Label1", QColor(224, 224, 224));
        auto* cell = new QLineEdit(frame);
        setControlKind(cell, ControlKind::TextBox);
        const QColor cellBase = cell->palette().color(QPalette::Base);

        ApplyMainTheme(form);
        const QColor face = QApplication::palette().color(QPalette::Button);
        QCOMPARE(back(&form), face);
        QCOMPARE(back(frame), face);
        QCOMPARE(back(caption), face);
        QCOMPARE(back(heading), QColor(224, 224, 224));
        QCOMPARE(cell->palette().color(QPalette::Base), cellBase);
        QVERIFY(form.styleSheet().contains("border-radius"));
    }

    void formColoursTurnGreyLabelsToo()
    {
        QWidget form;
        QLabel* heading = label(&form, "Label1", QColor(224, 224, 224));
        ApplyFormColours(form);
        const QColor face = QApplication::palette().color(QPalette::Button);
        QCOMPARE(back(&form), face);
        QCOMPARE(back(heading), face);
    }

    void shippedCursorLoadsWithHotSpot()
    {
        const QString shipped = QDir(qEnvironmentVariable("CORVANTIS_SOURCE_DIR")).filePath("resources/HAND-M.CUR");
        const auto cursor = loadCursorFile(shipped);
        QVERIFY(cursor.has_value());
        QCOMPARE(cursor->pixmap().size(), QSize(32, 32));
        const QImage img = cursor->pixmap().toImage();
        // The fingertip outline is opaque, the corner transparent.
        QCOMPARE(qAlpha(img.pixel(cursor->hotSpot())), 255);
        QCOMPARE(qAlpha(img.pixel(0, 31)), 0);
    }

    void badCursorFilesAreNoFailure_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("icon type") << QByteArray("\0\0\1\0\1\0", 6);
        QTest::newRow("truncated entry") << QByteArray("\0\0\2\0\1\0\x20\x20", 8);
        QByteArray lying("\0\0\2\0\1\0", 6);
        lying += QByteArray("\x20\x20\0\0\0\0\0\0\xff\xff\0\0\x16\0\0\0", 16);
        QTest::newRow("size beyond file") << lying;
    }
    void badCursorFilesAreNoFailure()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath("HAND-M.CUR");
        if (!bytes.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        QVERIFY(!loadCursorFile(path).has_value());
    }

    void handOnlyWhileOverButtonAndNeverOverHourglass()
    {
        QWidget window;
        window.resize(300, 100);
        auto* button = new QPushButton("Help", &window);
        button->setGeometry(10, 10, 100, 30);
        auto* edit = new QLineEdit(&window);
        edit->setGeometry(150, 10, 100, 30);
        PointerRules rules(window);
        rules.setMouseIcon(loadCursorFile(QDir(qEnvironmentVariable("CORVANTIS_SOURCE_DIR")).filePath("resources/HAND-M.CUR")));
        rules.addHandWidget(button);
        rules.addPlainWidget(&window);
        rules.addPlainWidget(edit);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mouseMove(button, QPoint(5, 5));
        QCOMPARE(rules.pointer(), Pointer::Custom);
        QCOMPARE(window.cursor().shape(), Qt::BitmapCursor);
        QTest::mouseMove(edit, QPoint(5, 5));
        QCOMPARE(rules.pointer(), Pointer::Default);

        rules.setPointer(Pointer::Hourglass);
        QTest::mouseMove(button, QPoint(6, 6));
        QCOMPARE(rules.pointer(), Pointer::Hourglass);
        rules.setPointer(Pointer::Default);
        QTest::mouseMove(button, QPoint(7, 7));
        QCOMPARE(rules.pointer(), Pointer::Custom);
    }
};

QTEST_MAIN(ThemeTest)
#include "test_theme.moc"
