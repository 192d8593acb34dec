#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vek::history {

// The server's worker threads, each with its own database connection. Connections wait in a
// bounded queue; when it is full the accepting thread waits too, and further clients wait in
// the kernel's backlog, so the connections held at once are bounded.
//
// A request must arrive whole within requestTime of its worker taking the connection (or of the
// answer before it on the same connection), however slowly its client sends: past that the
// connection is shut. The time taken to answer is not counted: an export may stream for long.
class WorkerPool : public httplib::TaskQueue {
  public:
    WorkerPool(std::size_t threads, std::size_t queued, int port,
               std::chrono::milliseconds requestTime);
    ~WorkerPool() override;
    void enqueue(std::function<void()> task) override;
    void shutdown() override;

    // On a worker: its connection's request has been read whole, or answered.
    static void requestRead();
    static void answerSent();

  private:
    struct Connection;
    static thread_local Connection* served_;  // the connection this worker is serving
    void work();
    void watch();
    std::shared_ptr<Connection> adoptAccepted();
    void release(const std::shared_ptr<Connection>& connection);

    std::size_t queued_;
    int port_;
    std::chrono::milliseconds requestTime_;
    std::deque<std::function<void()>> tasks_;
    std::map<int, std::shared_ptr<Connection>> connections_;  // by the server's descriptor
    std::vector<std::thread> threads_;
    std::thread watcher_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool watcherStopping_ = false;
};

}  // namespace vek::history
