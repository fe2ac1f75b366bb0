// libFuzzer entry for the number-text routines of the sheet and the engine's typed-text
// conversion: the input as UTF-8 under United States and German conventions. Nothing may
// crash; a text that reads as numeric must format as an amount; the only failure FormatAmount
// may report is its own StepError.
#include "core/errorreport.h"
#include "core/guard.h"
#include "spreadsheet/textinput.h"
#include "core/numbertext.h"

#include <QLocale>
#include <QString>
#include <QVariant>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

struct Convention {
    QLocale qt;
    ss::NumberLocale engine;
};

const Convention& convention(int which)
{
    static const Convention us{QLocale(QLocale::English, QLocale::UnitedStates), {".", ",", "$", "-"}};
    static const Convention de{QLocale(QLocale::German, QLocale::Germany), {",", ".", "\xE2\x82\xAC", "-"}};
    return which == 0 ? us : de;
}

void exercise(const QString& text, const std::string_view utf8, const Convention& c)
{
    QLocale::setDefault(c.qt);
    (void)corvantis::NormalizeDecimal(text);
    const bool numeric = corvantis::IsNumeric(text);
    if (numeric != corvantis::NumericValue(text).has_value())
        __builtin_trap();
    const QVariant cleaned = corvantis::ClearNonNumeric(text);
    try {
        (void)corvantis::FormatAmount(text, 2);
        (void)corvantis::FormatAmount(cleaned, 0);
    } catch (const corvantis::StepError&) {
        if (numeric)
            __builtin_trap();
    }
    (void)ss::valueFromTypedText(utf8, c.engine);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Reports of guarded steps would open a box; here they are only counted as handled.
    static const bool sinkInstalled = [] {
        corvantis::setErrorReportSink([](const corvantis::ErrorReport&) {});
        return true;
    }();
    (void)sinkInstalled;

    const std::string_view utf8(reinterpret_cast<const char*>(data), size);
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    exercise(text, utf8, convention(0));
    exercise(text, utf8, convention(1));
    return 0;
}
