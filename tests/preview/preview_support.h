#pragma once
// Shared helpers of the preview tests.
#include "core/errorreport.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>

#include <vector>

namespace previewtest {

// A snapshot whose left part is red and whose right part (from splitX on) is blue.
inline QPixmap snapshot(int width, int height, int splitX = -1, QColor left = Qt::red, QColor right = Qt::blue)
{
    if (splitX < 0)
        splitX = width / 2;
    QPixmap pm(width, height);
    pm.fill(left);
    QPainter p(&pm);
    p.fillRect(splitX, 0, width - splitX, height, right);
    return pm;
}

// Collects error reports for the lifetime of the object.
class ReportCollector {
public:
    ReportCollector()
    {
        previous_ = corvantis::setErrorReportSink([this](const corvantis::ErrorReport& r) { reports.push_back(r); });
    }
    ~ReportCollector() { corvantis::setErrorReportSink(previous_); }
    std::vector<corvantis::ErrorReport> reports;

private:
    corvantis::ErrorReportSink previous_;
};

} // namespace previewtest
