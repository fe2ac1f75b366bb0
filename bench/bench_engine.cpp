// The engine's share of one generation: open the projection template, write the 464 input
// cells as typed text, recalculate, save to memory; and drawing the sheet for the preview.
//
//   bench_engine [--benchmark_filter=...]      (CORVANTIS_TEMPLATE overrides the template path)
#include "spreadsheet/calc.h"
#include "spreadsheet/model.h"
#include "spreadsheet/render/render.h"
#include "spreadsheet/textinput.h"
#include "spreadsheet/xls.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::vector<std::uint8_t>& templateBytes()
{
    static const std::vector<std::uint8_t> bytes = [] {
        const char* env = std::getenv("CORVANTIS_TEMPLATE");
        const std::string path = env && *env ? env : CORVANTIS_BUILT_TEMPLATE;
        std::ifstream in(path, std::ios::binary);
        std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (b.empty())
            std::fprintf(stderr, "bench_engine: cannot read the template %s\n", path.c_str());
        return b;
    }();
    return bytes;
}

// The 33 line rows (1-based): revenue 6-12, cost of sales 16-22, expenses 28-46.
std::vector<int> lineRows()
{
    std::vector<int> rows;
    for (int r = 6; r <= 46; ++r)
        if (!(r >= 13 && r <= 15) && !(r >= 23 && r <= 27))
            rows.push_back(r);
    return rows;
}

// What the input sheet holds: currency texts as the user's locale shows them.
struct Inputs {
    std::string company = "Harbour Lane Bakery";
    double start = 44515;   // 15 November 2021
    std::vector<std::string> texts;   // per line: name, IND. %, 12 amounts
};

Inputs sampleInputs()
{
    Inputs in;
    unsigned seed = 12345;
    const auto next = [&] { seed = seed * 1103515245u + 12345u; return (seed >> 8) % 10000000u; };
    for (std::size_t i = 0; i < lineRows().size(); ++i) {
        in.texts.push_back("Line " + std::to_string(i + 1));
        in.texts.push_back(std::to_string(i % 20) + ".5");
        for (int m = 0; m < 12; ++m) {
            const unsigned cents = next();
            char buf[48];
            std::snprintf(buf, sizeof buf, "$%u,%03u.%02u", cents / 100000, cents / 100 % 1000, cents % 100);
            in.texts.push_back(buf);
        }
    }
    return in;
}

// 2 header cells and 33 x 14 line cells, each through the typed-text conversion.
void fill(ss::Workbook& wb, const Inputs& in)
{
    ss::Sheet& s = wb.sheets.at(0);
    s.at(1, 10).value = ss::valueFromTypedText(in.company);
    s.at(1, 17).value = ss::Value(in.start);
    std::size_t k = 0;
    for (int r : lineRows()) {
        s.at(r - 1, 1).value = ss::valueFromTypedText(in.texts[k++]);
        s.at(r - 1, 2).value = ss::valueFromTypedText(in.texts[k++]);
        for (int m = 0; m < 12; ++m)
            s.at(r - 1, 3 + 2 * m).value = ss::valueFromTypedText(in.texts[k++]);
    }
}

void BM_OpenTemplate(benchmark::State& state)
{
    const auto& bytes = templateBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(ss::xls::readFile(bytes));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_OpenTemplate);

void BM_FillCells(benchmark::State& state)
{
    const ss::Workbook base = ss::xls::readFile(templateBytes());
    const Inputs in = sampleInputs();
    for (auto _ : state) {
        state.PauseTiming();
        ss::Workbook wb = base;
        state.ResumeTiming();
        fill(wb, in);
        benchmark::DoNotOptimize(wb);
    }
    state.SetItemsProcessed(state.iterations() * 464);
}
BENCHMARK(BM_FillCells);

void BM_Recalculate(benchmark::State& state)
{
    ss::Workbook wb = ss::xls::readFile(templateBytes());
    fill(wb, sampleInputs());
    for (auto _ : state) {
        ss::recalculate(wb);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Recalculate);

void BM_SaveToMemory(benchmark::State& state)
{
    ss::Workbook wb = ss::xls::readFile(templateBytes());
    fill(wb, sampleInputs());
    ss::recalculate(wb);
    for (auto _ : state)
        benchmark::DoNotOptimize(ss::xls::writeFile(wb));
}
BENCHMARK(BM_SaveToMemory);

// The whole engine part of one generation.
void BM_Generation(benchmark::State& state)
{
    const auto& bytes = templateBytes();
    const Inputs in = sampleInputs();
    for (auto _ : state) {
        ss::Workbook wb = ss::xls::readFile(bytes);
        fill(wb, in);
        ss::recalculate(wb);
        benchmark::DoNotOptimize(ss::xls::writeFile(wb));
    }
}
BENCHMARK(BM_Generation)->Unit(benchmark::kMillisecond);

// The preview picture of the filled sheet: B1:AC50.
void BM_RenderSheet(benchmark::State& state)
{
    ss::Workbook wb = ss::xls::readFile(templateBytes());
    fill(wb, sampleInputs());
    ss::recalculate(wb);
    const ss::RangeAddress range{0, 1, 49, 28};
    for (auto _ : state) {
        QImage img = ss::renderRange(wb, 0, range);
        benchmark::DoNotOptimize(img.constBits());
    }
    const QSize size = ss::renderedSize(wb, 0, range);
    state.counters["pixels"] = static_cast<double>(size.width()) * size.height();
}
BENCHMARK(BM_RenderSheet)->Unit(benchmark::kMillisecond);

// A column of 40 wrapped cells each holding a 32,000-character text (words, or one long word):
// only the lines each cell can show are laid out, so this stays near the cost of short texts.
void BM_RenderHugeWrappedTexts(benchmark::State& state)
{
    ss::Workbook wb = ss::Workbook::makeDefault();
    wb.sheets.emplace_back();
    ss::Sheet& sheet = wb.sheets[0];
    sheet.name = "Texts";
    ss::Xf wrap = wb.xfs[15];
    wrap.wrap = true;
    const std::uint16_t xf = wb.addXf(wrap);
    std::string words;
    while (words.size() < 32000)
        words += "lorem ipsum dolor ";
    for (int r = 0; r < 40; ++r) {
        ss::Cell& c = sheet.at(r, 0);
        c.value = state.range(0) ? std::string(32000, 'W') : words;
        c.xf = xf;
    }
    const ss::RangeAddress range{0, 0, 39, 0};
    for (auto _ : state) {
        QImage img = ss::renderRange(wb, 0, range);
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_RenderHugeWrappedTexts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The whole sheet as one picture (16,384 x 1,114,112 pixels): refused before anything is allocated.
void BM_RefuseOversizedPicture(benchmark::State& state)
{
    ss::Workbook wb = ss::xls::readFile(templateBytes());
    const ss::RangeAddress all{0, 0, ss::kMaxRows - 1, ss::kMaxCols - 1};
    for (auto _ : state) {
        try {
            benchmark::DoNotOptimize(ss::renderRange(wb, 0, all).constBits());
        } catch (const std::exception&) {
        }
    }
}
BENCHMARK(BM_RefuseOversizedPicture)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // Text drawing needs a GUI application; the offscreen platform does when no display is there.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (templateBytes().empty())
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
