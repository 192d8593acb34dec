// The serial port on the Win32 communications interface, with overlapped input and output.
#include <windows.h>

#include <algorithm>

#include "serial/ComPort.h"
#include "serial/ComSignal.h"
#include "serial/ComThread.h"
#include "serial/DeferredClose.h"
#include "serial/EComPort.h"
#include "serial/EnumComPorts.h"
#include "serial/Win32Handle.h"

namespace vek {

namespace {

int lastError() {
    return int(GetLastError());
}

BYTE parityOf(TParityBits bits) {
    switch (bits) {
        case TParityBits::prOdd:
            return ODDPARITY;
        case TParityBits::prEven:
            return EVENPARITY;
        case TParityBits::prNone:
            break;
    }
    return NOPARITY;
}

DWORD maskOf(TComEvents events) {
    constexpr std::pair<TComEvent, DWORD> kMasks[] = {
        {evRxChar, EV_RXCHAR}, {evTxEmpty, EV_TXEMPTY},   {evRxFlag, EV_RXFLAG}, {evRing, EV_RING},
        {evBreak, EV_BREAK},   {evCTS, EV_CTS},           {evDSR, EV_DSR},       {evError, EV_ERR},
        {evRLSD, EV_RLSD},     {evRx80Full, EV_RX80FULL},
    };
    DWORD mask = 0;
    for (const auto& [event, bit] : kMasks)
        if ((events & event) != 0)
            mask |= bit;
    return mask;
}

// An overlapped operation started by start, waited for to its end; false with its error when it
// failed. A read that ran into its timeout is no failure: what came by then is its result.
bool finish(HANDLE port, Overlapped& op, BOOL started, DWORD& transferred, int& error) {
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        error = lastError();
        return false;
    }
    if (GetOverlappedResult(port, &op, &transferred, TRUE))
        return true;
    error = lastError();
    if (error == ERROR_TIMEOUT) {
        transferred = DWORD(op.InternalHigh);
        return true;
    }
    return false;
}

}  // namespace

void TCustomComPort::applyLine() {
    const HANDLE port = win32(handle_);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        throw EComPort(7, lastError());
    dcb.BaudRate = DWORD(ActualBaudRate());
    dcb.fBinary = TRUE;
    dcb.fParity = Parity.Check ? TRUE : FALSE;
    dcb.fOutxCtsFlow = FlowControl.OutCTSFlow ? TRUE : FALSE;
    dcb.fOutxDsrFlow = FlowControl.OutDSRFlow ? TRUE : FALSE;
    dcb.fDtrControl = FlowControl.ControlDTR == TDTRFlowControl::dtrEnable ? DTR_CONTROL_ENABLE
                                                                           : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = FlowControl.ControlRTS == TRTSFlowControl::rtsEnable ? RTS_CONTROL_ENABLE
                                                                           : RTS_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FlowControl.XonXoffOut ? TRUE : FALSE;
    dcb.fInX = FlowControl.XonXoffIn ? TRUE : FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = WORD(Buffer.InputSize / 4);
    dcb.XoffLim = WORD(Buffer.InputSize / 4);
    dcb.ByteSize = BYTE(DataBitCount());
    dcb.Parity = parityOf(Parity.Bits);
    dcb.StopBits = StopBits == TStopBits::sbTwoStopBits ? TWOSTOPBITS : ONESTOPBIT;
    dcb.XonChar = FlowControl.XonChar;
    dcb.XoffChar = FlowControl.XoffChar;
    dcb.EvtChar = 0;
    if (!SetCommState(port, &dcb))
        throw EComPort(7, lastError());
}

void TCustomComPort::openDevice() {
    const HANDLE port = CreateFileA(PortPath(Port).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        throw EComPort(1, lastError());
    handle_ = native(port);
    try {
        if (!SetupComm(port, DWORD(Buffer.InputSize), DWORD(Buffer.OutputSize)))
            throw EComPort(9, lastError());
        applyLine();
        if (!Timeouts.Valid())
            throw EComPort(8, ERROR_INVALID_PARAMETER);
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = DWORD(Timeouts.ReadInterval);  // -1 is MAXDWORD
        timeouts.ReadTotalTimeoutMultiplier = DWORD(Timeouts.ReadTotalMultiplier);
        timeouts.ReadTotalTimeoutConstant = DWORD(Timeouts.ReadTotalConstant);
        timeouts.WriteTotalTimeoutMultiplier = DWORD(Timeouts.WriteTotalMultiplier);
        timeouts.WriteTotalTimeoutConstant = DWORD(Timeouts.WriteTotalConstant);
        if (!SetCommTimeouts(port, &timeouts))
            throw EComPort(8, lastError());
        if (Events != 0) {
            if (!SetCommMask(port, maskOf(Events)))
                throw EComPort(1, lastError());
            thread_ = std::make_unique<TComThread>(*this, handle_);
        }
    } catch (...) {
        handle_ = kNoHandle;
        closeDeviceNow(native(port));
        throw;
    }
    if (thread_)
        ++threadsStarted_;
}

void TCustomComPort::closeDevice() {
    const HANDLE port = win32(handle_);
    const bool purged =
        PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
    const int purgeError = lastError();
    stopThread();
    // What the driver still holds (a USB transfer under way) would hold the close.
    DWORD errors = 0;
    COMSTAT status{};
    const bool queued = ClearCommError(port, &errors, &status) && status.cbOutQue > 0;
    handle_ = kNoHandle;
    if (queued)
        closeDeviceInBackground(native(port));
    else
        closeDeviceNow(native(port));
    if (!purged)
        throw EComPort(5, purgeError);
}

void TCustomComPort::ClearBuffer(bool input, bool output) {
    if (!input && !output)
        return;
    const DWORD flags = (input ? PURGE_RXCLEAR : 0) | (output ? PURGE_TXCLEAR : 0);
    if (!PurgeComm(win32(handle_), flags))
        throw EComPort(5, lastError());
}

int TCustomComPort::Read(void* buffer, int count) {
    if (count <= 0)
        return 0;
    Overlapped op;
    DWORD transferred = 0;
    int error = 0;
    const BOOL started = ReadFile(win32(handle_), buffer, DWORD(count), nullptr, &op);
    if (!finish(win32(handle_), op, started, transferred, error))
        throw EComPort(3, error);
    return int(transferred);
}

int TCustomComPort::ReadArrived(void* buffer, int capacity) {
    const int count = std::min(InputCount(), capacity);
    return count > 0 ? Read(buffer, count) : 0;
}

int TCustomComPort::Write(const void* buffer, int count) {
    if (count <= 0)
        return 0;
    // The line failed under the event thread: unplugged, or the driver gave up.
    if (thread_ && thread_->lineGone())
        throw EComPort(2, ERROR_NOT_READY);
    Overlapped op;
    DWORD transferred = 0;
    int error = 0;
    const BOOL started = WriteFile(win32(handle_), buffer, DWORD(count), nullptr, &op);
    if (!finish(win32(handle_), op, started, transferred, error))
        throw EComPort(2, error);
    return int(transferred);
}

int TCustomComPort::InputCount() const {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(win32(handle_), &errors, &status))
        throw EComPort(10, lastError());
    return int(status.cbInQue);
}

TComEvents TCustomComPort::WaitForEvent(TComEvents events, const TComSignal& stop, int timeoutMs) {
    if (thread_)
        throw EComPort(20);
    const HANDLE port = win32(handle_);
    // Bytes already queued raise no further event.
    if ((events & evRxChar) != 0 && InputCount() > 0)
        return evRxChar;
    if (!SetCommMask(port, maskOf(events)))
        throw EComPort(21, lastError());
    Overlapped wait;
    DWORD mask = 0;
    if (!WaitCommEvent(port, &mask, &wait)) {
        if (GetLastError() != ERROR_IO_PENDING)
            throw EComPort(21, lastError());
        // A byte that came between the check above and the wait raises no event of its own. The
        // wait is under way, so nothing may throw before it has ended.
        DWORD errors = 0;
        COMSTAT status{};
        const bool queued = (events & evRxChar) != 0 && ClearCommError(port, &errors, &status) &&
                            status.cbInQue > 0;
        const HANDLE waited[2] = {wait.hEvent, win32(stop.handle())};
        const DWORD which =
            queued ? WAIT_TIMEOUT
                   : WaitForMultipleObjects(2, waited, FALSE,
                                            timeoutMs < 0 ? INFINITE : DWORD(timeoutMs));
        const int waitError = which == WAIT_FAILED ? lastError() : 0;
        DWORD ignored = 0;
        if (which != WAIT_OBJECT_0) {
            // Setting the mask ends the wait under way, which must end before its record goes.
            SetCommMask(port, maskOf(events));
            GetOverlappedResult(port, &wait, &ignored, TRUE);
            if (which == WAIT_FAILED)
                throw EComPort(21, waitError);
            return (events & evRxChar) != 0 && InputCount() > 0 ? TComEvents(evRxChar) : 0;
        }
        if (!GetOverlappedResult(port, &wait, &ignored, FALSE))
            throw EComPort(21, lastError());
    }
    return (mask & EV_RXCHAR) != 0 ? TComEvents(evRxChar) : 0;
}

}  // namespace vek
