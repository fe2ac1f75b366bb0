#pragma once
// Memory for a large picture.
#include <QImage>
#include <QSize>

namespace ss {

// A picture of `size` in `format`, uninitialised. A sheet's picture is megabytes: its memory is
// taken from the system in one piece, in large pages where the system offers them, so that it
// is not handed over four kilobytes at a time as it is first drawn. Small pictures and systems
// without that come from the usual allocator. Null when there is no memory for it.
QImage newPicture(QSize size, QImage::Format format);

} // namespace ss
