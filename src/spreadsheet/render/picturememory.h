#pragma once
// Memory for a large picture.
#include <QImage>
#include <QSize>

#include <memory>

namespace ss {

// A picture of `size` in `format`, uninitialised. A sheet's picture is megabytes: its memory is
// taken from the system in one piece, in large pages where the system offers them, so that it
// is not handed over four kilobytes at a time as it is first drawn. Small pictures and systems
// without that come from the usual allocator. Null when there is no memory for it.
//
// While a PictureMemoryAhead of the same size and format is preparing pieces, the next picture
// takes one of them instead.
QImage newPicture(QSize size, QImage::Format format);

// The system clears every page it hands over, and a sheet's picture is megabytes of them. When
// a caller knows the size of pictures it is about to make, a thread of their own takes and
// clears that memory ahead, on a core that would otherwise stand idle. Each piece serves one newPicture of exactly that size and format; pieces not taken
// go back to the system when this object ends (or prepares again), so nothing outlives its
// owner. A picture whose piece is still being cleared waits for it: the thread runs at the
// usual priority, so waiting costs no more than clearing the rest itself. Where the system offers none of this, nothing is prepared and pictures are made as
// usual.
class PictureMemoryAhead {
public:
    PictureMemoryAhead();
    ~PictureMemoryAhead();
    PictureMemoryAhead(const PictureMemoryAhead&) = delete;
    PictureMemoryAhead& operator=(const PictureMemoryAhead&) = delete;

    // Starts preparing `count` pictures of `size` in `format`; whatever was prepared before is
    // given back first.
    void prepare(QSize size, QImage::Format format, int count);
    // Stops preparing and gives back every piece not taken.
    void release();

    struct Work;   // the thread and its pieces; newPicture looks among them

private:
    std::unique_ptr<Work> mWork;
};

} // namespace ss
