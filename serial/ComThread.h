#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <thread>

#include "serial/NativeHandle.h"

namespace vek {

class TCustomComPort;

// The event thread of one opening of a port. It waits on the port and on a stop signal; each
// arrival of bytes is handed to the owner thread through a notifier there (HandOver), and the
// thread waits until that hand-over has run before it waits on the port again.
class TComThread {
  public:
    // Owner thread; EComPort 1 when the thread or its signals cannot be created.
    TComThread(TCustomComPort& port, NativeHandle handle);
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

    // What the event thread shares with the owner thread; both hold it, so a thread let go by
    // the destructor still finds it. Its signals are the platform's.
    struct Shared;

  private:
    // The platform's part: what the waiting needs, made on the owner thread (false when it cannot
    // be), the waiting on the port and the owner thread's notifier.
    static bool prepare(Shared& shared, NativeHandle port);
    static void run(const std::shared_ptr<Shared>& shared, NativeHandle port);
    static std::unique_ptr<QObject> notifierOf(NativeHandle wake, QObject& context,
                                               std::function<void()> activated);

    std::shared_ptr<Shared> shared_;
    std::unique_ptr<QObject> notifier_;
    std::thread thread_;
};

}  // namespace vek
