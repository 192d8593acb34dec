#pragma once

#include <QSocketNotifier>
#include <memory>
#include <thread>

namespace vek {

class TCustomComPort;

// The event thread of one opening of a port. It waits on the port and on a stop signal; each
// arrival of bytes is handed to the owner thread through a notifier there, and the thread waits
// until that hand-over has run before it waits on the port again.
//
// A hand-over goes Pending (posted) -> Started (the owner thread runs it) -> Done. A stop while it
// is Pending abandons it, so the owner thread can join at once; a Started one is on the owner
// thread's own stack, so the thread ends only once it is Done.
class TComThread {
  public:
    // Owner thread; EComPort 1 when the thread or its descriptors cannot be created.
    TComThread(TCustomComPort& port, int fd);
    // Stops and joins; a thread whose hand-over is still on the caller's stack is let go instead
    // and ends by itself when that hand-over returns.
    ~TComThread();

    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // After this the thread hands nothing more over and ends.
    void stop();
    // Owner thread: whether this thread's hand-over is running on the caller's stack.
    bool inHandOver() const;
    // Whether the thread ended because the line hung up or failed (not because it was stopped).
    bool lineGone() const;

  private:
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::thread thread_;
};

}  // namespace vek
