// From a click on "Start Creating Template" to the preview window shown with its picture, in the
// running program's own windows: fill, save, photograph, hand over. "< Back" between runs deletes
// the scratch workbook, as the user's way back would. Prints each run and the median.
//
//   button_to_preview [runs]     (default 20)
//
// Run it with XDG_CONFIG_HOME and TEMP pointing at private folders.
#include "app/form1.h"
#include "app/generationhost.h"
#include "preview/form2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    corvantis::Form1 form;
    corvantis::MainGenerationHost generation(form);
    form.Form_Load();
    form.PushButton7_Click();   // the example figures, so the sheet is not all zeros
    form.show();
    QApplication::processEvents();

    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        form.PushButton22()->click();
        QApplication::processEvents();   // the preview's first paint
        const double elapsed = static_cast<double>(t.nsecsElapsed()) / 1e6;
        corvantis::Form2* preview = generation.preview();
        if (!preview || !preview->isVisible()) {
            std::fprintf(stderr, "button_to_preview: the preview window did not come up\n");
            return 1;
        }
        ms.push_back(elapsed);
        std::printf("run %d: %.2f ms\n", i + 1, elapsed);
        preview->PushButton8_Click();
        QApplication::processEvents();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("button_to_preview_median_ms %.2f\n", ms[ms.size() / 2]);
    return 0;
}
