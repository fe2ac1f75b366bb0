// The preview on a screen of twice the usual density: the picture is drawn in the screen's own
// pixels by the engine from the workbook, not a stretched snapshot, and matches the snapshot.
#include "preview/form2.h"
#include "preview/picturebox.h"
#include "preview/preview_support.h"

#include "core/dialogs.h"
#include "workbook/excelapp.h"
#include "workbook/sheetpicture.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace corvantis;
using previewtest::PushButton1, previewtest::PushButton2;

namespace {

// Mean squared step between neighbouring pixels' grey: an edge spread over two pixels by
// stretching counts half of a crisp one.
double edgeEnergy(const QImage& image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 0; y + 1 < grey.height(); ++y) {
        const uchar* row = grey.constScanLine(y);
        const uchar* below = grey.constScanLine(y + 1);
        for (int x = 0; x + 1 < grey.width(); ++x) {
            const double dx = row[x + 1] - row[x], dy = below[x] - row[x];
            sum += dx * dx + dy * dy;
        }
    }
    return sum / (double(grey.width()) * grey.height());
}

double meanDifference(const QImage& a, const QImage& b)
{
    const QImage ga = a.convertToFormat(QImage::Format_Grayscale8), gb = b.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 0; y < ga.height(); ++y)
        for (int x = 0; x < ga.width(); ++x)
            sum += std::abs(int(ga.constScanLine(y)[x]) - int(gb.constScanLine(y)[x]));
    return sum / (double(ga.width()) * ga.height());
}

} // namespace

class TestSharpness : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString workbook;
    QImage snapshot;   // as the generation's picture file holds it

private slots:
    void initTestCase()
    {
        Dialogs::setScripted(true);
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        const QString templ = qEnvironmentVariable("CORVANTIS_TEMPLATE");
        QVERIFY2(QFile::exists(templ), "CORVANTIS_TEMPLATE must name the built template");
        workbook = dir.filePath(QStringLiteral("tolvek12345678.xls"));
        Application filling;
        Workbook book = filling.Workbooks().Open(templ, true);
        filling.Worksheets(1).Cells(2, 11) = "Harbour Lane Bakery";
        filling.Worksheets(1).Cells(7, 4) = "$12,345.67";
        book.SaveAs(workbook, xlExcel8);
        filling.Quit();
        // The picture as generation makes it.
        Application photographing;
        saveCellsActivesheet(photographing.Workbooks().Open(workbook, true), dir.filePath(QStringLiteral("temp.bmp")));
        QVERIFY(snapshot.load(dir.filePath(QStringLiteral("temp.bmp"))));
        snapshot = snapshot.convertToFormat(QImage::Format_RGB32);
    }

    void drawnInTheScreensOwnPixels()
    {
        previewtest::ReportCollector reports;
        Form2 form;
        form.setPicture(QPixmap::fromImage(snapshot));
        form.setExcelFile(workbook);
        form.show();
        // The picture's name for screen readers, made beside, arrives and says whose projection it is.
        QTRY_VERIFY(form.Picture1()->accessibleName().contains(QStringLiteral("Harbour Lane Bakery")));
        // 100 %: twice the snapshot's pixels, painted by the engine at that scale.
        const QImage shown = form.Picture1()->grab().toImage();
        QCOMPARE(shown.devicePixelRatio(), 2.0);
        QCOMPARE(shown.size(), snapshot.size() * 2);
        // Inside the box's one-pixel border, the picture from its top-left corner.
        const QSize inside = shown.size() - QSize(4, 4);
        const QImage sharp = shown.copy(QRect(QPoint(2, 2), inside));
        const QImage stretched = snapshot.scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                     .copy(QRect(QPoint(0, 0), inside));
        QVERIFY2(edgeEnergy(sharp) > 1.4 * edgeEnergy(stretched),
                 qPrintable(QStringLiteral("%1 against %2 stretched").arg(edgeEnergy(sharp)).arg(edgeEnergy(stretched))));
        // The same sheet in the same place: brought back to the snapshot's size it matches it.
        const QImage back = sharp.scaled(inside / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage original = snapshot.copy(QRect(QPoint(0, 0), inside / 2));
        QVERIFY2(meanDifference(back, original) < 10, qPrintable(QString::number(meanDifference(back, original))));

        // 50 %: the snapshot's own pixels are the screen's.
        QTest::mouseClick(PushButton2(form), Qt::LeftButton);
        QTest::mouseClick(PushButton2(form), Qt::LeftButton);
        QCOMPARE(form.view().zoom(), 0.5f);
        QImage half = form.Picture1()->drawnOutput().toImage().convertToFormat(snapshot.format());
        half.setDevicePixelRatio(1.0);
        QCOMPARE(half, snapshot);
        QVERIFY(reports.reports.empty());
    }

    // A workbook that cannot be read leaves the stretched snapshot: a softer picture, no message.
    void unreadableWorkbookFallsBackToTheSnapshot()
    {
        previewtest::ReportCollector reports;
        const QString broken = dir.filePath(QStringLiteral("broken.xls"));
        QFile f(broken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a workbook");
        f.close();
        Form2 form;
        form.setPicture(QPixmap::fromImage(snapshot));
        form.setExcelFile(broken);
        form.show();
        QCOMPARE(form.Picture1()->drawnOutput().size(), snapshot.size() * 2);
        QTest::mouseClick(PushButton1(form), Qt::LeftButton);
        QCOMPARE(form.view().zoom(), 1.25f);
        QVERIFY(reports.reports.empty());
        QVERIFY(Dialogs::shown().empty());
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestSharpness test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_sharpness.moc"
