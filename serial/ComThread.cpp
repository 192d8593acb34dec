#include "serial/ComThread.h"

#include <QPointer>
#include <system_error>

#include "serial/ComPort.h"
#include "serial/ComThreadShared.h"
#include "serial/EComPort.h"

namespace vek {

TComThread::TComThread(TCustomComPort& port, NativeHandle handle) {
    try {
        shared_ = std::make_shared<Shared>();
    } catch (const std::system_error& e) {
        throw EComPort(1, e.code().value());
    }
    if (shared_->wakeSignal == kNoHandle || !prepare(*shared_, handle))
        throw EComPort(1, lastSystemError());
    notifier_ = notifierOf(shared_->wakeSignal, port, [shared = shared_, port = &port] {
        drainSignal(shared->wakeSignal);
        if (!shared->handOver.start())
            return;
        const QPointer<TCustomComPort> alive(port);
        {
            // Lets the event thread go on however the handler ends.
            struct FinishOnExit {
                HandOver& handOver;
                ~FinishOnExit() { handOver.finish(); }
            } const finish{shared->handOver};
            try {
                port->deliverRxChar();
            } catch (const std::exception& e) {
                // Nothing may cross the event loop; the tool's handler shows its own errors, so
                // only the queue count's failure lands here.
                qWarning("vektool: %s", e.what());
            }
        }
        // The handler may have closed or even destroyed the port.
        if (alive)
            port->reapThreads();
    });
    try {
        thread_ = std::thread(run, shared_, handle);
    } catch (const std::system_error& e) {
        throw EComPort(1, e.code().value());
    }
}

TComThread::~TComThread() {
    shared_->stop();
    if (inHandOver()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void TComThread::stop() {
    shared_->stop();
}

bool TComThread::inHandOver() const {
    return shared_->handOver.started();
}

bool TComThread::lineGone() const {
    return shared_->lineGone;
}

}  // namespace vek
