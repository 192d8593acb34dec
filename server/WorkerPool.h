#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vek::history {

// The server's worker threads, each with its own database connection. Connections wait in a
// bounded queue; when it is full the accepting thread waits too, and further clients wait in
// the kernel's backlog, so the connections held at once are bounded.
class WorkerPool : public httplib::TaskQueue {
  public:
    WorkerPool(std::size_t threads, std::size_t queued);
    ~WorkerPool() override;
    void enqueue(std::function<void()> task) override;
    void shutdown() override;

  private:
    void work();

    std::size_t queued_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
};

}  // namespace vek::history
