// The sheet picture: what gets drawn, when nothing is written, and a busy clipboard.
#include "core/errorreport.h"
#include "spreadsheet/model.h"
#include "spreadsheet/render/render.h"
#include "spreadsheet/xls.h"
#include "workbook/bmpfile.h"
#include "workbook/sheetpicture.h"

#include <QBuffer>
#include <QClipboard>
#include <QImageReader>
#include <QRandomGenerator>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>

using namespace corvantis;

namespace {
// A workbook with numbers in the cells given (0-based), saved to `path`.
QByteArray encodeWithQtsHandler(const QImage& picture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "BMP");
    return bytes;
}

void writeBook(const QString& path, const std::vector<ss::CellAddress>& cells)
{
    ss::Workbook wb = ss::Workbook::makeDefault();
    ss::Sheet sh;
    sh.name = "Sheet1";
    for (const ss::CellAddress& at : cells)
        sh.cells[at].value = 1.0 + at.row * 10 + at.col;
    wb.sheets.push_back(sh);
    ss::xls::save(wb, path.toStdString());
}
} // namespace

class TestPicture : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::vector<ErrorReport> reports;
    Application app;

    Workbook open(const QString& name, const std::vector<ss::CellAddress>& cells)
    {
        const QString path = dir.filePath(name);
        writeBook(path, cells);
        return app.Workbooks().Open(path, true);
    }

private slots:
    void init()
    {
        reports.clear();
        setErrorReportSink([this](const ErrorReport& r) { reports.push_back(r); });
    }
    void cleanup()
    {
        setErrorReportSink({});
        setClipboardPictureSource({});
    }

    void theUsedRangeIsDrawnOverAnyExistingFile()
    {
        Workbook book = open("big.xls", {{1, 1}, {48, 28}, {10, 3}});
        const QString bmp = dir.filePath("temp.bmp");
        QFile old(bmp);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("not a picture");
        old.close();
        QGuiApplication::clipboard()->setText("the user's text");

        saveCellsActivesheet(book, bmp);
        QVERIFY(reports.empty());
        QImage picture;
        QVERIFY(picture.load(bmp, "BMP"));
        const ss::Workbook model = ss::xls::load(dir.filePath("big.xls").toStdString());
        QCOMPARE(picture.size(), ss::renderedSize(model, 0, ss::RangeAddress{1, 1, 48, 28}));
        QVERIFY(!picture.isNull());
        // The clipboard now holds the sheet, not what the user had.
        QCOMPARE(QGuiApplication::clipboard()->image().size(), picture.size());
    }

    void smallSheetsGiveNoFileAndNoMessage_data()
    {
        QTest::addColumn<std::vector<ss::CellAddress>>("cells");
        QTest::newRow("empty") << std::vector<ss::CellAddress>{};
        QTest::newRow("column A only") << std::vector<ss::CellAddress>{{0, 0}, {30, 0}};
        QTest::newRow("row 1 only") << std::vector<ss::CellAddress>{{0, 0}, {0, 20}};
    }
    void smallSheetsGiveNoFileAndNoMessage()
    {
        QFETCH(std::vector<ss::CellAddress>, cells);
        Workbook book = open(QStringLiteral("small%1.xls").arg(cells.size()), cells);
        const QString bmp = dir.filePath("small.bmp");
        saveCellsActivesheet(book, bmp);
        QVERIFY(reports.empty());
        QVERIFY(!QFile::exists(bmp));
    }

    void aBusyClipboardIsAskedUpToAThousandTimes()
    {
        int asked = 0;
        setClipboardPictureSource([&] { return ++asked < 1000 ? QImage() : QImage(3, 2, QImage::Format_RGB32); });
        QCOMPARE(GetClipboardPicture(0).size(), QSize(3, 2));
        QCOMPARE(asked, 1000);

        asked = 0;
        setClipboardPictureSource([&]() -> QImage {
            ++asked;
            throw std::runtime_error("clipboard locked");
        });
        QVERIFY(GetClipboardPicture(0).isNull());
        QCOMPARE(asked, 1000);

        asked = 0;
        QVERIFY(GetClipboardPicture(1).isNull());   // text is no picture format
        QCOMPARE(asked, 0);
    }

    void failuresAreReportedWithTheirLine()
    {
        Workbook book = open("fail.xls", {{1, 1}, {5, 5}});

        // Clipboard never free: line 112, no file.
        setClipboardPictureSource([] { return QImage(); });
        const QString bmp = dir.filePath("never.bmp");
        saveCellsActivesheet(book, bmp);
        QCOMPARE(reports.size(), size_t(1));
        QCOMPARE(reports[0].step, 112);
        QCOMPARE(reports[0].location, QStringLiteral("in Marrowfen2021/08/31.Excel1.saveCellsActivesheet "));
        QVERIFY(!QFile::exists(bmp));
        setClipboardPictureSource({});

        // A folder that cannot exist: line 112 again.
        reports.clear();
        QFile plain(dir.filePath("afile"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        saveCellsActivesheet(book, dir.filePath("afile/sub/temp.bmp"));
        QCOMPARE(reports.size(), size_t(1));
        QCOMPARE(reports[0].step, 112);

        // A closed workbook: one report at line 100 and nothing else.
        reports.clear();
        book.Close();
        saveCellsActivesheet(book, bmp);
        QCOMPARE(reports.size(), size_t(1));
        QCOMPARE(reports[0].step, 100);
        QVERIFY(!QFile::exists(bmp));
    }

    // temp.bmp is written and read back without Qt's BMP handler: the bytes must be the handler's
    // to the last one, and the pixels read back the handler's, for every row padding.
    void theBmpFileIsQtsOwnBothWays()
    {
        QRandomGenerator random(7);
        for (const QSize size : {QSize(1, 1), QSize(2, 3), QSize(3, 2), QSize(4, 5), QSize(5, 1), QSize(6, 2), QSize(7, 3), QSize(8, 1), QSize(9, 2), QSize(37, 19)}) {
            QImage picture(size, QImage::Format_RGB32);
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    picture.setPixel(x, y, random.generate() | 0xff000000u);
            if (size.width() == 37)
                picture.setDotsPerMeterX(5905);   // another resolution is carried too
            const QByteArray qt = encodeWithQtsHandler(picture);
            const QByteArray ours = encodeBmp(picture);
            QCOMPARE(ours.size(), qt.size());
            QVERIFY2(ours == qt, qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));

            const QImage back = decodePicture(ours);
            const QImage qtBack = QImage::fromData(qt, "BMP");
            QCOMPARE(back.format(), qtBack.format());
            QCOMPARE(back, qtBack);
            QCOMPARE(back.dotsPerMeterX(), qtBack.dotsPerMeterX());
            QCOMPARE(back.dotsPerMeterY(), qtBack.dotsPerMeterY());
        }
        // A picture of many pieces goes through the file in the order Qt's handler writes it.
        QImage large(601, 1500, QImage::Format_RGB32);
        for (int y = 0; y < large.height(); ++y)
            for (int x = 0; x < large.width(); ++x)
                large.setPixel(x, y, random.generate() | 0xff000000u);
        const QString file = dir.filePath("large.bmp");
        writeBmpFile(large, file, Durability::Scratch);
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), encodeWithQtsHandler(large));
        QCOMPARE(readPictureFile(file), large);

        // Other pictures and files still load as Qt reads them; a file that is none says why.
        QImage indexed(3, 3, QImage::Format_Indexed8);
        indexed.setColorTable({qRgb(1, 2, 3), qRgb(200, 100, 50)});
        indexed.fill(1);
        QCOMPARE(decodePicture(encodeBmp(indexed)).pixel(1, 1), qRgb(200, 100, 50));
        QByteArray png;
        QBuffer pngBuffer(&png);
        pngBuffer.open(QIODevice::WriteOnly);
        QVERIFY(indexed.save(&pngBuffer, "PNG"));
        QCOMPARE(decodePicture(png).pixel(2, 2), qRgb(200, 100, 50));
        QByteArray cut = encodeBmp(QImage(8, 8, QImage::Format_RGB32));
        cut.chop(10);
        QString why;
        QVERIFY(decodePicture(cut, &why).isNull() || decodePicture(cut).size() == QSize(8, 8));
        QVERIFY(readPictureFile(dir.filePath("nothing-here.bmp"), &why).isNull());
        QVERIFY(!why.isEmpty());
    }
};

QTEST_MAIN(TestPicture)
#include "test_picture.moc"
