#include "server/WorkerPool.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "server/ThreadStore.h"

namespace vek::history {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kWatchInterval{250};

int localPort(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return -1;
}

}  // namespace

struct WorkerPool::Connection {
    int accepted = -1;  // the server's descriptor, closed by the server
    int socket = -1;    // ours for the same socket: never another's when it is shut
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    std::chrono::milliseconds requestTime{};
    std::atomic<Clock::rep> deadline{0};  // 0: no request being read

    ~Connection() {
        if (socket >= 0)
            ::close(socket);
    }
    bool samePeer(const Connection& other) const {
        return peerLength == other.peerLength && std::memcmp(&peer, &other.peer, peerLength) == 0;
    }
    void arm() { deadline = (Clock::now() + requestTime).time_since_epoch().count(); }
};

thread_local WorkerPool::Connection* WorkerPool::served_ = nullptr;

WorkerPool::WorkerPool(std::size_t threads, std::size_t queued, int port,
                       std::chrono::milliseconds requestTime)
    : queued_(queued), port_(port), requestTime_(requestTime) {
    for (std::size_t i = 0; i < threads; ++i)
        threads_.emplace_back([this] { work(); });
    watcher_ = std::thread([this] { watch(); });
}

WorkerPool::~WorkerPool() {
    shutdown();
}

void WorkerPool::requestRead() {
    if (served_)
        served_->deadline = 0;
}

void WorkerPool::answerSent() {
    if (served_)
        served_->arm();
}

void WorkerPool::enqueue(std::function<void()> task) {
    const std::shared_ptr<Connection> connection = adoptAccepted();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || tasks_.size() < queued_; });
    tasks_.push_back([this, connection, task = std::move(task)] {
        served_ = connection.get();
        if (connection)
            connection->arm();
        task();
        served_ = nullptr;
        if (connection)
            release(connection);
    });
    changed_.notify_all();
}

// The socket accept() has just returned, found among the process's descriptors: connected on
// the server's port, and not a connection held already. The library hands the task no more.
std::shared_ptr<WorkerPool::Connection> WorkerPool::adoptAccepted() {
    DIR* descriptors = opendir("/proc/self/fd");
    if (!descriptors)
        return nullptr;
    std::shared_ptr<Connection> adopted;
    const std::lock_guard lock(mutex_);
    while (const dirent* entry = readdir(descriptors)) {
        if (entry->d_name[0] == '.')
            continue;
        const int fd = std::atoi(entry->d_name);
        sockaddr_storage local{};
        socklen_t localLength = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
            localPort(local) != port_)
            continue;
        auto candidate = std::make_shared<Connection>();
        // The listening socket has no peer.
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&candidate->peer),
                        &candidate->peerLength) != 0)
            continue;
        if (const auto held = connections_.find(fd);
            held != connections_.end() && held->second->samePeer(*candidate))
            continue;
        candidate->accepted = fd;
        candidate->socket = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        candidate->requestTime = requestTime_;
        if (candidate->socket >= 0) {
            adopted = candidate;
            connections_[fd] = candidate;
            break;
        }
    }
    closedir(descriptors);
    return adopted;
}

void WorkerPool::release(const std::shared_ptr<Connection>& connection) {
    const std::lock_guard lock(mutex_);
    // Its descriptor may have been reused by a connection accepted since.
    if (const auto held = connections_.find(connection->accepted);
        held != connections_.end() && held->second == connection)
        connections_.erase(held);
}

void WorkerPool::watch() {
    std::unique_lock lock(mutex_);
    while (!changed_.wait_for(lock, kWatchInterval, [this] { return watcherStopping_; })) {
        const Clock::rep now = Clock::now().time_since_epoch().count();
        for (const auto& [fd, connection] : connections_) {
            Clock::rep deadline = connection->deadline;
            if (deadline != 0 && deadline < now &&
                connection->deadline.compare_exchange_strong(deadline, 0))
                ::shutdown(connection->socket, SHUT_RDWR);
        }
    }
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
    // Watched until the last connection is served: a slow client cannot hold the stop up.
    {
        const std::lock_guard lock(mutex_);
        watcherStopping_ = true;
    }
    changed_.notify_all();
    if (watcher_.joinable())
        watcher_.join();
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
