// The event thread on Windows: an overlapped WaitCommEvent against the stop event, events as
// signals.
#include <QWinEventNotifier>

#include "serial/ComThreadShared.h"
#include "serial/Win32Handle.h"

namespace vek {

void raiseSignal(NativeHandle signal) {
    SetEvent(win32(signal));
}

void drainSignal(NativeHandle signal) {
    ResetEvent(win32(signal));
}

NativeHandle newSignal() {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event ? native(event) : kNoHandle;
}

void closeHandle(NativeHandle handle) {
    CloseHandle(win32(handle));
}

int lastSystemError() {
    return int(GetLastError());
}

std::unique_ptr<QObject> TComThread::notifierOf(NativeHandle wake, QObject& context,
                                                std::function<void()> activated) {
    auto notifier = std::make_unique<QWinEventNotifier>(win32(wake));
    QObject::connect(notifier.get(), &QWinEventNotifier::activated, &context, std::move(activated));
    return notifier;
}

// The port's event mask is set by the port before the thread starts.
bool TComThread::prepare(Shared&, NativeHandle) {
    return true;
}

void TComThread::run(const std::shared_ptr<Shared>& shared, NativeHandle portHandle) {
    const HANDLE port = win32(portHandle);
    Overlapped wait;
    for (;;) {
        DWORD mask = 0;
        ResetEvent(wait.hEvent);
        if (!WaitCommEvent(port, &mask, &wait)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                // Unplugged, or a driver that cannot wait: the port stays open, failing writes.
                shared->lineGone = true;
                return;
            }
            const HANDLE waited[2] = {wait.hEvent, win32(shared->stopSignal.handle())};
            if (WaitForMultipleObjects(2, waited, FALSE, INFINITE) != WAIT_OBJECT_0) {
                // Stopped: clearing the mask ends the wait under way, which must end before its
                // record goes.
                SetCommMask(port, 0);
                DWORD ignored = 0;
                GetOverlappedResult(port, &wait, &ignored, TRUE);
                return;
            }
            DWORD ignored = 0;
            if (!GetOverlappedResult(port, &wait, &ignored, FALSE)) {
                shared->lineGone = true;
                return;
            }
        }
        if (shared->handOver.stopping())
            return;
        if ((mask & EV_RXCHAR) != 0 && !shared->handOver.post())
            return;
    }
}

}  // namespace vek
