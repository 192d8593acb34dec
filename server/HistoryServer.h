#pragma once

#include <QString>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

namespace httplib {
class Server;
}

namespace vek::history {

// Why the server cannot start, in words that say what to do next.
class ServerError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Bounds on every request; beyond them a request is refused, never half-taken.
constexpr std::size_t kMaxBodyBytes = 8 * 1024 * 1024;
constexpr int kMaxLinesPerRequest = 2000;
constexpr int kWorkerThreads = 8;
constexpr int kQueuedConnections = 32;
constexpr int kDefaultPageSize = 50;
constexpr int kMaxPageSize = 500;
// A request must arrive whole within this, however slowly its client sends it.
constexpr std::chrono::seconds kRequestTime{30};

struct ServerSettings {
    QString db;
    std::string host = "127.0.0.1";
    int port = 8470;  // 0: any free port
    std::string tlsCert, tlsKey;
    std::chrono::milliseconds requestTime = kRequestTime;
};

bool isLoopbackHost(const std::string& host);

// The history's HTTP API over the store, one database connection per worker thread.
class HistoryServer {
  public:
    // Opens the database once (creating or migrating it) and binds; throws ServerError or
    // StoreError.
    explicit HistoryServer(const ServerSettings& settings);
    ~HistoryServer();
    HistoryServer(const HistoryServer&) = delete;
    HistoryServer& operator=(const HistoryServer&) = delete;

    int port() const { return port_; }
    bool openWithoutTokens() const { return open_; }
    void run();   // serves until stop()
    void stop();  // from any thread

  private:
    void addRoutes();

    std::unique_ptr<httplib::Server> http_;
    int port_ = 0;
    bool open_ = false;
};

}  // namespace vek::history
