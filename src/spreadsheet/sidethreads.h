#pragma once
// Threads beside the calling one, for work split across the processors: the bands of a picture,
// the rows of a picture file, the last close of a large file.
#include <cstddef>
#include <functional>
#include <future>

namespace ss {

// How many threads share such work, the calling one with them: one per processor, up to two.
std::size_t sharingThreads();

// Runs `job` on side thread `index`, which is made on first use and lives as long as the process:
// what a thread loads for itself (a renderer's fonts) is loaded once rather than for every job,
// and it is never stopped (the process ends it), so nothing it holds is torn down after the
// application. Jobs given to one thread run in the order given. Throws std::system_error when
// the system has no thread to spare.
std::future<void> runBeside(std::size_t index, std::function<void()> job);

} // namespace ss
