#pragma once
// Shared helpers of the preview tests.
#include "core/errorreport.h"
#include "preview/form2.h"
#include "preview/picturebox.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>

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

// The preview window's controls, found by their design names.
template <class Control>
Control* control(const corvantis::Form2& form, const char* name)
{
    auto* c = form.findChild<Control*>(QString::fromLatin1(name));
    Q_ASSERT(c);
    return c;
}
inline corvantis::PictureBox* Picture2(const corvantis::Form2& f) { return control<corvantis::PictureBox>(f, "Picture2"); }
inline corvantis::PictureBox* Zoom_Ori(const corvantis::Form2& f) { return control<corvantis::PictureBox>(f, "Zoom_Ori"); }
inline QScrollBar* HScroll1(const corvantis::Form2& f) { return control<QScrollBar>(f, "HScroll1"); }
inline QScrollBar* VScroll1(const corvantis::Form2& f) { return control<QScrollBar>(f, "VScroll1"); }
inline QPushButton* PushButton1(const corvantis::Form2& f) { return control<QPushButton>(f, "PushButton1"); }
inline QPushButton* PushButton2(const corvantis::Form2& f) { return control<QPushButton>(f, "PushButton2"); }
inline QPushButton* PushButton6(const corvantis::Form2& f) { return control<QPushButton>(f, "PushButton6"); }
inline QPushButton* PushButton8(const corvantis::Form2& f) { return control<QPushButton>(f, "PushButton8"); }

} // namespace previewtest
