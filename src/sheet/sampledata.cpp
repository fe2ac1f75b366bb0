#include "sheet/sampledata.h"

#include "core/guard.h"
#include "core/numbertext.h"
#include "sheet/inputsheet.h"
#include "sheet/monthheaders.h"

#include <QDateEdit>
#include <QLabel>

namespace corvantis::sheet {

QDate sampleStartDate(const QDate& today)
{
    return QDate(today.year(), today.month(), 1).addMonths(-3);
}

namespace {

struct SampleLine {
    int line;
    int firstStep;            // the loop's step; the cells follow in steps of 2
    const char* name;         // null: the name and the percentage stay as they are
    const char* percentage;
    int amounts[3];           // months 1 to 3
};

constexpr SampleLine kSample[] = {
    {0, 108, "Parts", "5", {1250, 1300, 1116}},
    {7, 120, "Parts", "5", {450, 320, 128}},
    {14, 132, nullptr, nullptr, {50, 70, 38}},
    {15, 140, nullptr, nullptr, {250, 170, 280}},
    {18, 148, nullptr, nullptr, {10, 0, 22}},
};

} // namespace

void loadSampleData(InputSheet& sheet, const QDate& today)
{
    Guard g(Procedure::MainSampleData);
    g.step(100, [&] { sheet.txtCompanyName()->setText(QStringLiteral("ACME Inc")); });
    g.step(102, [&] { sheet.DTPicker1()->setDate(sampleStartDate(today)); });
    for (int k = 0; k < 12; ++k)
        g.step(106, [&] { sheet.setMonthCaption(k, monthCaption(sheet.DTPicker1()->date(), k)); });

    for (const SampleLine& s : kSample) {
        int step = s.firstStep + 2;
        if (s.name) {
            g.step(step, [&] { sheet.txtRevenue(s.line)->setText(QString::fromLatin1(s.name)); });
            step += 2;
            g.step(step, [&] { sheet.txtInd(s.line)->setText(QString::fromLatin1(s.percentage)); });
            step += 2;
        }
        for (int m = 1; m <= 3; ++m, step += 2)
            g.step(step, [&] { sheet.txtYear(m, s.line)->setText(FormatAmount(s.amounts[m - 1], 2)); });
    }
}

} // namespace corvantis::sheet
