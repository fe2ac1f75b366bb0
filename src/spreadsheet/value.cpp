#include "spreadsheet/value.h"

namespace ss {

const char* errorText(ErrorCode e)
{
    switch (e) {
    case ErrorCode::Null: return "#NULL!";
    case ErrorCode::Div0: return "#DIV/0!";
    case ErrorCode::Value: return "#VALUE!";
    case ErrorCode::Ref: return "#REF!";
    case ErrorCode::Name: return "#NAME?";
    case ErrorCode::Num: return "#NUM!";
    case ErrorCode::NA: return "#N/A";
    }
    return "#VALUE!";
}

bool errorFromText(const std::string& text, ErrorCode& out)
{
    for (ErrorCode e : {ErrorCode::Null, ErrorCode::Div0, ErrorCode::Value, ErrorCode::Ref,
                        ErrorCode::Name, ErrorCode::Num, ErrorCode::NA}) {
        if (text == errorText(e)) {
            out = e;
            return true;
        }
    }
    return false;
}

} // namespace ss
