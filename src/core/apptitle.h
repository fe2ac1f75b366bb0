#pragma once
#include <QString>

namespace corvantis {

// The product title: caption of both windows and the settings section name.
inline constexpr const char* kProductTitle = "Corvantis";

// The shorter form used as caption of message boxes without a caption of their own:
// cut at the last blank at least once, and again while longer than 40 characters.
// A title without a blank is kept whole (there is no word to drop).
QString applicationTitleFrom(const QString& productTitle);

// The application title computed at start-up (defaults to the rule applied to the product title).
QString ApplicationTitle();
void setApplicationTitle(const QString& title);

} // namespace corvantis
