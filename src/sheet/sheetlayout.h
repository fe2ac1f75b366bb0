#pragma once
// The input sheet's design: 33 lines by 14 columns, positions in twips.
#include "core/projectioninputs.h"

#include <QString>

namespace corvantis::sheet {

// 33 lines by 14 columns: name, IND. %, months 1-12 (the inputs model's shape).
using corvantis::kColumnCount;
using corvantis::kLineCount;
using corvantis::kMonthCount;

// Containers (relative to their parents).
inline constexpr int kPicture1Left = 120, kPicture1Top = 1170, kPicture1Width = 13920, kPicture1Height = 7335;
inline constexpr int kVScrollLeft = 13600, kVScrollTop = 0, kVScrollWidth = 250, kVScrollHeight = 7275;
inline constexpr int kPicture2Left = 150, kPicture2Top = 0, kPicture2Width = 13785, kPicture2Height = 12675;
inline constexpr int kFrame1Left = 0, kFrame1Top = 105, kFrame1Width = 13335, kFrame1Height = 12540;

// Cells (relative to Frame1).
inline constexpr int kCellHeight = 330;
inline constexpr int kLinePitch = 315;
inline constexpr int kNameLeft = 120, kNameWidth = 1800;
inline constexpr int kIndLeft = 1905, kIndWidth = 645;
inline constexpr int kMonthLeft0 = 2535, kMonthPitch = 885, kMonthWidth = 900;
inline constexpr int kHeaderTop = 960, kHeaderHeight = 360;

// Top of line k: each section after the first starts 345 lower than the plain pitch gives.
constexpr int lineTop(int line)
{
    if (line <= 6)
        return 1305 + kLinePitch * line;
    if (line <= 13)
        return 3855 + kLinePitch * (line - 7);
    return 6405 + kLinePitch * (line - 14);
}
constexpr int monthLeft(int month1to12) { return kMonthLeft0 + kMonthPitch * (month1to12 - 1); }

// The default text of each line's name cell.
using corvantis::designName;
// The control name of a month's cells: "txtYear1" ... "txtYear12".
inline QString monthControlName(int month1to12) { return inputControlName(monthColumn(month1to12)); }

} // namespace corvantis::sheet
