// The whole road of one generation, in-process, the way "Start Creating Template" runs it:
// the template written to the scratch folder and opened through the spreadsheet facade, the
// 2 header cells and 462 line cells assigned as typed text, recalculation, SaveAs .xls, the
// saved workbook opened in a second application, the sheet drawn and written as temp.bmp,
// and the BMP read back for the preview.
//
//   generation_road [runs]      (default 20; QT_QPA_PLATFORM=offscreen on a machine without display)
//
// Prints one line per run, then "median_ms", "min_ms" and "peak_rss_mb" (getrusage ru_maxrss
// after the runs, so the peak of a generation on top of the process's own start).
#include "core/errorreport.h"
#include "app/theme.h"
#include "spreadsheet/xls.h"
#include "core/files.h"
#include "core/numbertext.h"
#include "app/generation.h"
#include "workbook/bmpfile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

// The inputs of the main window: sample figures in the one display form of amounts.
struct BenchHost : corvantis::GenerationHost {
    QString workbookPath;
    QSize pictureSize;

    QString companyName() const override { return QStringLiteral("Harbour Lane Bakery"); }
    QDate fiscalStart() const override { return QDate(2021, 11, 15); }
    // The texts stand in the sheet's boxes before the click, so they are made before the clock starts.
    BenchHost()
    {
        for (int line = 0; line < corvantis::kLineCount; ++line)
            for (int column = 0; column < corvantis::kColumnCount; ++column)
                texts[line][column] = typed(line, column);
    }
    QString cellText(int line, int column) const override { return texts[line][column]; }
    static QString typed(int line, int column)
    {
        if (column == 0)
            return QStringLiteral("Category %1").arg(line + 1);
        if (column == 1)
            return line % 3 == 0 ? QStringLiteral("12.5") : QString();
        return corvantis::FormatAmount(amount(line, column), 2);   // "$12,345.67", as the sheet shows it
    }
    QString texts[corvantis::kLineCount][corvantis::kColumnCount];
    static double amount(int line, int column) { return (((line + 1) * 7919 + column * 104729) % 2000000) / 100.0; }
    void setPointer(corvantis::Pointer) override {}
    void freezeDrawing(bool) override {}
    void loadPreviewPicture(const QString& path) override
    {
        const QImage image = corvantis::readPictureFile(path);   // as the preview reads it
        if (image.isNull())
            throw std::runtime_error("the sheet picture did not load");
        pictureSize = image.size();
        keep(path, QStringLiteral("temp.bmp"));
    }
    // CORVANTIS_BENCH_KEEP=<folder> keeps a copy of the scratch files, so that two builds'
    // bytes can be compared.
    static void keep(const QString& path, const QString& name)
    {
        const QString folder = qEnvironmentVariable("CORVANTIS_BENCH_KEEP");
        if (folder.isEmpty())
            return;
        QFile::remove(QDir(folder).filePath(name));
        QFile::copy(path, QDir(folder).filePath(name));
    }
    void setPreviewExcelFile(const QString& path) override { workbookPath = path; }
    void showPreview() override {}
    void hideMain() override {}
};

double peakRssMb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;   // kilobytes on Linux
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    // United States conventions, the ones LibreOffice's API reads typed text in.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "generation_road: no scratch folder\n");
        return 2;
    }
    corvantis::setScratchFolderOverride(scratch.path());
    int reports = 0;
    corvantis::setErrorReportSink([&](const corvantis::ErrorReport& r) {
        ++reports;
        std::fprintf(stderr, "generation_road: step %d failed: %s\n", r.step, qPrintable(r.description));
    });
    std::printf("rss_before_mb %.1f\n", peakRssMb());

    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        BenchHost host;
        QElapsedTimer t;
        t.start();
        const bool done = corvantis::GenerateWorkbook(host);
        const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        if (!done || reports > 0 || host.pictureSize.isEmpty() || !QFile::exists(host.workbookPath)) {
            std::fprintf(stderr, "generation_road: run %d did not complete\n", i + 1);
            return 1;
        }
        // The run counts only when the texts became numbers: D13 totals the first month's revenue.
        const ss::Workbook saved = ss::xls::load(host.workbookPath.toStdString());
        double expected = 0;
        for (int line = 0; line < 7; ++line)
            expected += BenchHost::amount(line, 2);
        const auto total = saved.sheets.at(0).cells.find({12, 3});
        if (total == saved.sheets.at(0).cells.end() || !total->second.value.isNumber()
            || std::abs(total->second.value.number() - expected) > 0.005) {
            std::fprintf(stderr, "generation_road: the saved total is wrong\n");
            return 1;
        }
        BenchHost::keep(host.workbookPath, QStringLiteral("generated.xls"));
        QFile::remove(host.workbookPath);   // what "< Back" does
        times.push_back(ms);
        std::printf("run %d %.2f ms (picture %dx%d)\n", i + 1, ms, host.pictureSize.width(), host.pictureSize.height());
    }

    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    std::printf("median_ms %.2f\nmin_ms %.2f\npeak_rss_mb %.1f\n", median, sorted.front(), peakRssMb());
    return 0;
}
