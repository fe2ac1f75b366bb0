// libFuzzer entry for the inputs file a script hands to --inputs: any bytes are read in the
// locale the file declares (or, by the first byte, in a German one given by the caller) into
// inputs or into problems that name a line and column of the file; nothing may crash.
#include "core/inputsfile.h"

#include <QLocale>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    std::optional<QLocale> locale;
    if (size > 0 && (data[0] & 1))
        locale = QLocale(QLocale::German, QLocale::Germany);
    const corvantis::InputsFileContent content = corvantis::readInputsFile(bytes, locale);
    for (const corvantis::InputsFileProblem& problem : content.problems)
        if (problem.line < 0 || problem.column < 0 || problem.text.isEmpty())
            __builtin_trap();
    return 0;
}
