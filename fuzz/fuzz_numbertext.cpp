// libFuzzer entry for the number-text routines of the sheet and the engine's typed-text
// conversion: the input as UTF-8 under United States and German conventions. Nothing may
// crash; a text that reads as numeric must format as an amount; the only failure FormatAmount
// may report is its own StepError. The program reads amounts through the engine's reader: a text
// is numeric exactly when the engine reads it as a number that is no percentage, and both give
// the same value.
#include "core/errorreport.h"
#include "core/guard.h"
#include "spreadsheet/textinput.h"
#include "core/numbertext.h"

#include <QLocale>
#include <QString>
#include <QVariant>

#include <cstddef>
#include <cstdint>
#include <optional>
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
    const std::optional<double> value = corvantis::NumericValue(text);
    if (numeric != value.has_value())
        __builtin_trap();
    const std::optional<ss::TypedNumber> typed = ss::readTypedNumber(utf8, corvantis::amountConventions(c.qt));
    if (numeric != (typed && !typed->percent))
        __builtin_trap();
    if (numeric && *value != typed->value)
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
