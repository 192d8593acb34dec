#include "serial/ComPort.h"

#include "serial/ComThread.h"
#include "serial/EComPort.h"

namespace vek {

TCustomComPort::TCustomComPort(QObject* parent) : QObject(parent) {}

TCustomComPort::~TCustomComPort() {
    if (!Connected())
        return;
    try {
        closeDevice();
    } catch (const EComPort&) {
        // The close itself has completed; only discarding the queues failed.
    }
}

bool TCustomComPort::Connected() const {
    return handle_ != kNoHandle;
}

void TCustomComPort::SetConnected(bool open) {
    if (open == Connected())
        return;
    if (open) {
        openDevice();
    } else {
        closeDevice();
    }
}

void TCustomComPort::deliverRxChar() {
    if (!TriggersOnRxChar || !OnRxChar)
        return;
    const int count = InputCount();
    if (count <= 0)
        return;
    // A copy: the handler may close or even destroy the port.
    const auto handler = OnRxChar;
    handler(this, count);
}

void TCustomComPort::stopThread() {
    if (!thread_)
        return;
    thread_->stop();
    // A close inside this thread's own hand-over cannot wait for it: the thread ends when the
    // handler returns and is joined then. It waits on nothing but that hand-over, so the device
    // can go at once either way.
    if (thread_->inHandOver())
        retired_.push_back(std::move(thread_));
    else
        thread_.reset();
}

void TCustomComPort::reapThreads() {
    if (retired_.empty())
        return;
    // Queued: the notifier of a thread that just finished is still on the stack.
    QMetaObject::invokeMethod(
        this,
        [this] {
            std::erase_if(retired_, [](const auto& thread) { return !thread->inHandOver(); });
        },
        Qt::QueuedConnection);
}

void TCustomComPort::ApplyLineSettings() {
    if (Connected())
        applyLine();
}

int TCustomComPort::ActualBaudRate() const {
    switch (BaudRate) {
        case TBaudRate::br9600:
            return 9600;
        case TBaudRate::br19200:
            return 19200;
        case TBaudRate::br57600:
            return 57600;
        case TBaudRate::br115200:
            return 115200;
        case TBaudRate::brCustom:
            break;
    }
    return CustomBaudRate;
}

int TCustomComPort::DataBitCount() const {
    switch (DataBits) {
        case TDataBits::dbFive:
            return 5;
        case TDataBits::dbSix:
            return 6;
        case TDataBits::dbSeven:
            return 7;
        case TDataBits::dbEight:
            break;
    }
    return 8;
}

}  // namespace vek
