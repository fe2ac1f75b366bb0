// Placeholder until typed-text conversion lands.
#include "spreadsheet/textinput.h"
namespace ss { Value valueFromTypedText(std::string_view t, const NumberLocale&) { return t.empty() ? Value() : Value(std::string(t)); } }
