#include "spreadsheet/sidethreads.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace ss {

namespace {

class SideThread {
public:
    SideThread()
    {
        std::thread([this] {
            for (;;) {
                std::packaged_task<void()> task;
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    wake_.wait(lock, [this] { return !jobs_.empty(); });
                    task = std::move(jobs_.front());
                    jobs_.pop_front();
                }
                task();
            }
        }).detach();
    }

    std::future<void> run(std::function<void()> job)
    {
        std::packaged_task<void()> task(std::move(job));
        std::future<void> done = task.get_future();
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(task));
        }
        wake_.notify_one();
        return done;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::packaged_task<void()>> jobs_;
};

} // namespace

std::size_t sharingThreads() { return std::min(2u, std::max(1u, std::thread::hardware_concurrency())); }

std::future<void> runBeside(std::size_t index, std::function<void()> job)
{
    static std::mutex guard;
    static std::vector<SideThread*> threads;   // kept for the whole run, see the header
    SideThread* thread = nullptr;
    {
        const std::lock_guard<std::mutex> lock(guard);
        while (threads.size() <= index) {
            auto made = std::make_unique<SideThread>();
            threads.push_back(made.release());
        }
        thread = threads[index];
    }
    return thread->run(std::move(job));
}

} // namespace ss
