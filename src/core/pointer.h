#pragma once

namespace corvantis {

// Pointer values of the windows: 0 default, 11 hourglass, 99 custom (the window's mouse icon).
enum class Pointer { Default = 0, Hourglass = 11, Custom = 99 };

} // namespace corvantis
