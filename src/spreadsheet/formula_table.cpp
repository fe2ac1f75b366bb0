// The built-in function table ([MS-XLS] 2.5.198.17 Ftab / 2.5.198.18 Cetab are the index lists),
// plus token sizes and small text helpers shared by the formula code.
#include "spreadsheet/formula_internal.h"

#include <algorithm>
#include <array>

namespace ss::formula::detail {

namespace {

constexpr int V = -1;   // variable argument count up to 30

// index, name, min, max, fixed, parameter classes
#define FN(i, n, mn, mx, p) FunctionEntry{{i, n, mn, (mx) == V ? -1 : (mx), (mn) == (mx)}, p}
const FunctionEntry kFunctions[] = {
    FN(0, "COUNT", 1, V, "R"),
    FN(1, "IF", 2, 3, "VRR"),
    FN(2, "ISNA", 1, 1, "V"),
    FN(3, "ISERROR", 1, 1, "V"),
    FN(4, "SUM", 1, V, "R"),
    FN(5, "AVERAGE", 1, V, "R"),
    FN(6, "MIN", 1, V, "R"),
    FN(7, "MAX", 1, V, "R"),
    FN(8, "ROW", 0, 1, "R"),
    FN(9, "COLUMN", 0, 1, "R"),
    FN(10, "NA", 0, 0, "V"),
    FN(11, "NPV", 2, V, "VR"),
    FN(12, "STDEV", 1, V, "R"),
    FN(13, "DOLLAR", 1, 2, "V"),
    FN(14, "FIXED", 1, 3, "V"),
    FN(15, "SIN", 1, 1, "V"),
    FN(16, "COS", 1, 1, "V"),
    FN(17, "TAN", 1, 1, "V"),
    FN(18, "ATAN", 1, 1, "V"),
    FN(19, "PI", 0, 0, "V"),
    FN(20, "SQRT", 1, 1, "V"),
    FN(21, "EXP", 1, 1, "V"),
    FN(22, "LN", 1, 1, "V"),
    FN(23, "LOG10", 1, 1, "V"),
    FN(24, "ABS", 1, 1, "V"),
    FN(25, "INT", 1, 1, "V"),
    FN(26, "SIGN", 1, 1, "V"),
    FN(27, "ROUND", 2, 2, "V"),
    FN(28, "LOOKUP", 2, 3, "VR"),
    FN(29, "INDEX", 2, 4, "RV"),
    FN(30, "REPT", 2, 2, "V"),
    FN(31, "MID", 3, 3, "V"),
    FN(32, "LEN", 1, 1, "V"),
    FN(33, "VALUE", 1, 1, "V"),
    FN(34, "TRUE", 0, 0, "V"),
    FN(35, "FALSE", 0, 0, "V"),
    FN(36, "AND", 1, V, "R"),
    FN(37, "OR", 1, V, "R"),
    FN(38, "NOT", 1, 1, "V"),
    FN(39, "MOD", 2, 2, "V"),
    FN(40, "DCOUNT", 3, 3, "R"),
    FN(41, "DSUM", 3, 3, "R"),
    FN(42, "DAVERAGE", 3, 3, "R"),
    FN(43, "DMIN", 3, 3, "R"),
    FN(44, "DMAX", 3, 3, "R"),
    FN(45, "DSTDEV", 3, 3, "R"),
    FN(46, "VAR", 1, V, "R"),
    FN(47, "DVAR", 3, 3, "R"),
    FN(48, "TEXT", 2, 2, "V"),
    FN(49, "LINEST", 1, 4, "A"),
    FN(50, "TREND", 1, 4, "A"),
    FN(51, "LOGEST", 1, 4, "A"),
    FN(52, "GROWTH", 1, 4, "A"),
    FN(56, "PV", 3, 5, "V"),
    FN(57, "FV", 3, 5, "V"),
    FN(58, "NPER", 3, 5, "V"),
    FN(59, "PMT", 3, 5, "V"),
    FN(60, "RATE", 3, 6, "V"),
    FN(61, "MIRR", 3, 3, "AV"),
    FN(62, "IRR", 1, 2, "AV"),
    FN(63, "RAND", 0, 0, "V"),
    FN(64, "MATCH", 2, 3, "VRR"),
    FN(65, "DATE", 3, 3, "V"),
    FN(66, "TIME", 3, 3, "V"),
    FN(67, "DAY", 1, 1, "V"),
    FN(68, "MONTH", 1, 1, "V"),
    FN(69, "YEAR", 1, 1, "V"),
    FN(70, "WEEKDAY", 1, 2, "V"),
    FN(71, "HOUR", 1, 1, "V"),
    FN(72, "MINUTE", 1, 1, "V"),
    FN(73, "SECOND", 1, 1, "V"),
    FN(74, "NOW", 0, 0, "V"),
    FN(75, "AREAS", 1, 1, "R"),
    FN(76, "ROWS", 1, 1, "R"),
    FN(77, "COLUMNS", 1, 1, "R"),
    FN(78, "OFFSET", 3, 5, "RV"),
    FN(82, "SEARCH", 2, 3, "V"),
    FN(83, "TRANSPOSE", 1, 1, "A"),
    FN(86, "TYPE", 1, 1, "V"),
    FN(97, "ATAN2", 2, 2, "V"),
    FN(98, "ASIN", 1, 1, "V"),
    FN(99, "ACOS", 1, 1, "V"),
    FN(100, "CHOOSE", 2, V, "VR"),
    FN(101, "HLOOKUP", 3, 4, "VRRV"),
    FN(102, "VLOOKUP", 3, 4, "VRRV"),
    FN(105, "ISREF", 1, 1, "R"),
    FN(109, "LOG", 1, 2, "V"),
    FN(111, "CHAR", 1, 1, "V"),
    FN(112, "LOWER", 1, 1, "V"),
    FN(113, "UPPER", 1, 1, "V"),
    FN(114, "PROPER", 1, 1, "V"),
    FN(115, "LEFT", 1, 2, "V"),
    FN(116, "RIGHT", 1, 2, "V"),
    FN(117, "EXACT", 2, 2, "V"),
    FN(118, "TRIM", 1, 1, "V"),
    FN(119, "REPLACE", 4, 4, "V"),
    FN(120, "SUBSTITUTE", 3, 4, "V"),
    FN(121, "CODE", 1, 1, "V"),
    FN(124, "FIND", 2, 3, "V"),
    FN(125, "CELL", 1, 2, "VR"),
    FN(126, "ISERR", 1, 1, "V"),
    FN(127, "ISTEXT", 1, 1, "V"),
    FN(128, "ISNUMBER", 1, 1, "V"),
    FN(129, "ISBLANK", 1, 1, "V"),
    FN(130, "T", 1, 1, "R"),
    FN(131, "N", 1, 1, "R"),
    FN(140, "DATEVALUE", 1, 1, "V"),
    FN(141, "TIMEVALUE", 1, 1, "V"),
    FN(142, "SLN", 3, 3, "V"),
    FN(143, "SYD", 4, 4, "V"),
    FN(144, "DDB", 4, 5, "V"),
    FN(148, "INDIRECT", 1, 2, "V"),
    FN(162, "CLEAN", 1, 1, "V"),
    FN(163, "MDETERM", 1, 1, "A"),
    FN(164, "MINVERSE", 1, 1, "A"),
    FN(165, "MMULT", 2, 2, "A"),
    FN(167, "IPMT", 4, 6, "V"),
    FN(168, "PPMT", 4, 6, "V"),
    FN(169, "COUNTA", 1, V, "R"),
    FN(183, "PRODUCT", 1, V, "R"),
    FN(184, "FACT", 1, 1, "V"),
    FN(189, "DPRODUCT", 3, 3, "R"),
    FN(190, "ISNONTEXT", 1, 1, "V"),
    FN(193, "STDEVP", 1, V, "R"),
    FN(194, "VARP", 1, V, "R"),
    FN(195, "DSTDEVP", 3, 3, "R"),
    FN(196, "DVARP", 3, 3, "R"),
    FN(197, "TRUNC", 1, 2, "V"),
    FN(198, "ISLOGICAL", 1, 1, "V"),
    FN(199, "DCOUNTA", 3, 3, "R"),
    FN(212, "ROUNDUP", 2, 2, "V"),
    FN(213, "ROUNDDOWN", 2, 2, "V"),
    FN(216, "RANK", 2, 3, "VRV"),
    FN(219, "ADDRESS", 2, 5, "V"),
    FN(220, "DAYS360", 2, 3, "V"),
    FN(221, "TODAY", 0, 0, "V"),
    FN(222, "VDB", 5, 7, "V"),
    FN(227, "MEDIAN", 1, V, "R"),
    FN(228, "SUMPRODUCT", 1, V, "A"),
    FN(229, "SINH", 1, 1, "V"),
    FN(230, "COSH", 1, 1, "V"),
    FN(231, "TANH", 1, 1, "V"),
    FN(232, "ASINH", 1, 1, "V"),
    FN(233, "ACOSH", 1, 1, "V"),
    FN(234, "ATANH", 1, 1, "V"),
    FN(235, "DGET", 3, 3, "R"),
    FN(244, "INFO", 1, 1, "V"),
    FN(247, "DB", 4, 5, "V"),
    FN(252, "FREQUENCY", 2, 2, "R"),
    FN(261, "ERROR.TYPE", 1, 1, "V"),
    FN(269, "AVEDEV", 1, V, "R"),
    FN(270, "BETADIST", 3, 5, "V"),
    FN(271, "GAMMALN", 1, 1, "V"),
    FN(272, "BETAINV", 3, 5, "V"),
    FN(273, "BINOMDIST", 4, 4, "V"),
    FN(274, "CHIDIST", 2, 2, "V"),
    FN(275, "CHIINV", 2, 2, "V"),
    FN(276, "COMBIN", 2, 2, "V"),
    FN(277, "CONFIDENCE", 3, 3, "V"),
    FN(278, "CRITBINOM", 3, 3, "V"),
    FN(279, "EVEN", 1, 1, "V"),
    FN(280, "EXPONDIST", 3, 3, "V"),
    FN(281, "FDIST", 3, 3, "V"),
    FN(282, "FINV", 3, 3, "V"),
    FN(283, "FISHER", 1, 1, "V"),
    FN(284, "FISHERINV", 1, 1, "V"),
    FN(285, "FLOOR", 2, 2, "V"),
    FN(286, "GAMMADIST", 4, 4, "V"),
    FN(287, "GAMMAINV", 3, 3, "V"),
    FN(288, "CEILING", 2, 2, "V"),
    FN(289, "HYPGEOMDIST", 4, 4, "V"),
    FN(290, "LOGNORMDIST", 3, 3, "V"),
    FN(291, "LOGINV", 3, 3, "V"),
    FN(292, "NEGBINOMDIST", 3, 3, "V"),
    FN(293, "NORMDIST", 4, 4, "V"),
    FN(294, "NORMSDIST", 1, 1, "V"),
    FN(295, "NORMINV", 3, 3, "V"),
    FN(296, "NORMSINV", 1, 1, "V"),
    FN(297, "STANDARDIZE", 3, 3, "V"),
    FN(298, "ODD", 1, 1, "V"),
    FN(299, "PERMUT", 2, 2, "V"),
    FN(300, "POISSON", 3, 3, "V"),
    FN(301, "TDIST", 3, 3, "V"),
    FN(302, "WEIBULL", 4, 4, "V"),
    FN(303, "SUMXMY2", 2, 2, "A"),
    FN(304, "SUMX2MY2", 2, 2, "A"),
    FN(305, "SUMX2PY2", 2, 2, "A"),
    FN(306, "CHITEST", 2, 2, "A"),
    FN(307, "CORREL", 2, 2, "A"),
    FN(308, "COVAR", 2, 2, "A"),
    FN(309, "FORECAST", 3, 3, "VA"),
    FN(310, "FTEST", 2, 2, "A"),
    FN(311, "INTERCEPT", 2, 2, "A"),
    FN(312, "PEARSON", 2, 2, "A"),
    FN(313, "RSQ", 2, 2, "A"),
    FN(314, "STEYX", 2, 2, "A"),
    FN(315, "SLOPE", 2, 2, "A"),
    FN(316, "TTEST", 4, 4, "AAV"),
    FN(317, "PROB", 3, 4, "AAV"),
    FN(318, "DEVSQ", 1, V, "R"),
    FN(319, "GEOMEAN", 1, V, "R"),
    FN(320, "HARMEAN", 1, V, "R"),
    FN(321, "SUMSQ", 1, V, "R"),
    FN(322, "KURT", 1, V, "R"),
    FN(323, "SKEW", 1, V, "R"),
    FN(324, "ZTEST", 2, 3, "RV"),
    FN(325, "LARGE", 2, 2, "RV"),
    FN(326, "SMALL", 2, 2, "RV"),
    FN(327, "QUARTILE", 2, 2, "RV"),
    FN(328, "PERCENTILE", 2, 2, "RV"),
    FN(329, "PERCENTRANK", 2, 3, "RV"),
    FN(330, "MODE", 1, V, "A"),
    FN(331, "TRIMMEAN", 2, 2, "RV"),
    FN(332, "TINV", 2, 2, "V"),
    FN(336, "CONCATENATE", 1, V, "V"),
    FN(337, "POWER", 2, 2, "V"),
    FN(342, "RADIANS", 1, 1, "V"),
    FN(343, "DEGREES", 1, 1, "V"),
    FN(344, "SUBTOTAL", 2, V, "VR"),
    FN(345, "SUMIF", 2, 3, "RVR"),
    FN(346, "COUNTIF", 2, 2, "RV"),
    FN(347, "COUNTBLANK", 1, 1, "R"),
    FN(350, "ISPMT", 4, 4, "V"),
    FN(351, "DATEDIF", 3, 3, "V"),
    FN(354, "ROMAN", 1, 2, "V"),
    FN(358, "GETPIVOTDATA", 2, V, "VRV"),
    FN(359, "HYPERLINK", 1, 2, "V"),
    FN(361, "AVERAGEA", 1, V, "R"),
    FN(362, "MAXA", 1, V, "R"),
    FN(363, "MINA", 1, V, "R"),
    FN(364, "STDEVPA", 1, V, "R"),
    FN(365, "VARPA", 1, V, "R"),
    FN(366, "STDEVA", 1, V, "R"),
    FN(367, "VARA", 1, V, "R"),
};
#undef FN

} // namespace

const FunctionEntry* functionEntryByIndex(std::uint16_t index)
{
    // The table is sorted by index.
    auto it = std::lower_bound(std::begin(kFunctions), std::end(kFunctions), index,
                               [](const FunctionEntry& e, std::uint16_t i) { return e.info.index < i; });
    return it != std::end(kFunctions) && it->info.index == index ? &*it : nullptr;
}

const FunctionEntry* functionEntryByName(std::string_view upperName)
{
    for (const FunctionEntry& e : kFunctions)
        if (upperName == e.info.name)
            return &e;
    return nullptr;
}

char paramClass(const FunctionEntry& f, int argIndex)
{
    const std::string_view p = f.params;
    if (p.empty())
        return 'V';
    return p[std::min<std::size_t>(static_cast<std::size_t>(argIndex), p.size() - 1)];
}

std::size_t tokenSize(std::span<const std::uint8_t> t, std::size_t pos)
{
    if (pos >= t.size())
        return 0;
    const std::size_t left = t.size() - pos;
    auto fits = [&](std::size_t n) { return n <= left ? n : std::size_t{0}; };
    const std::uint8_t id = t[pos];
    if (id >= 0x01 && id <= 0x02)
        return fits(5);
    if (id >= 0x03 && id <= 0x16)
        return 1;
    switch (id) {
    case kStr: {
        if (left < 3)
            return 0;
        const std::size_t cch = t[pos + 1];
        const bool wide = t[pos + 2] & 0x01;
        return fits(3 + cch * (wide ? 2 : 1));
    }
    case kAttr: {
        if (left < 4)
            return 0;
        if (t[pos + 1] & kAttrChoose)
            return fits(4 + 2 * (static_cast<std::size_t>(readU16(t, pos + 2)) + 1));
        return 4;
    }
    case kErr:
    case kBool:
        return fits(2);
    case kInt:
        return fits(3);
    case kNum:
        return fits(9);
    default:
        break;
    }
    if (id < 0x20 || id >= 0x80)
        return 0;   // ptgExtend (0x18) and the unused ids are not supported
    switch (baseId(id)) {
    case kArray: return fits(8);
    case kFunc: return fits(3);
    case kFuncVar: return fits(4);
    case kName: return fits(5);
    case kRef: case kRefErr: case kRefN: return fits(5);
    case kArea: case kAreaErr: case kAreaN: return fits(9);
    case kMemArea: case kMemErr: case kMemNoMem: return fits(7);
    case kMemFunc: case kMemAreaN: case kMemNoMemN: return fits(3);
    case kNameX: case kRef3d: case kRefErr3d: return fits(7);
    case kArea3d: case kAreaErr3d: return fits(11);
    default: return 0;
    }
}

std::string columnName(int col)
{
    std::string s;
    col += 1;
    while (col > 0) {
        const int r = (col - 1) % 26;
        s.insert(s.begin(), static_cast<char>('A' + r));
        col = (col - 1) / 26;
    }
    return s;
}

} // namespace ss::formula::detail

namespace ss::formula {

const FunctionInfo* functionByName(std::string_view upperName)
{
    const detail::FunctionEntry* e = detail::functionEntryByName(upperName);
    return e ? &e->info : nullptr;
}

const FunctionInfo* functionByIndex(std::uint16_t index)
{
    const detail::FunctionEntry* e = detail::functionEntryByIndex(index);
    return e ? &e->info : nullptr;
}

} // namespace ss::formula
