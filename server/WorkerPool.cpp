#include "server/WorkerPool.h"

#include "server/ThreadStore.h"

namespace vek::history {

WorkerPool::WorkerPool(std::size_t threads, std::size_t queued) : queued_(queued) {
    for (std::size_t i = 0; i < threads; ++i)
        threads_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() {
    shutdown();
}

void WorkerPool::enqueue(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || tasks_.size() < queued_; });
    tasks_.push_back(std::move(task));
    changed_.notify_all();
}

void WorkerPool::shutdown() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_)
        if (thread.joinable())
            thread.join();
}

void WorkerPool::work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            // Connections already accepted are served before the thread ends.
            if (tasks_.empty())
                break;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        changed_.notify_all();
        task();
    }
    closeThreadStore();
}

}  // namespace vek::history
