#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/NativeHandle.h"

namespace vek {

class TComThread;

enum class TBaudRate { br9600, br19200, br57600, br115200, brCustom };
enum class TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum class TStopBits { sbOneStopBit, sbTwoStopBits };
enum class TParityBits { prNone, prOdd, prEven };
enum class TDTRFlowControl { dtrDisable, dtrEnable };
enum class TRTSFlowControl { rtsDisable, rtsEnable };
enum class TSyncMethod { smThreadSync };

// Line events, as the operating system's event mask has them. On Linux only the arrival of bytes
// is told apart.
enum TComEvent : unsigned {
    evRxChar = 1u << 0,
    evTxEmpty = 1u << 1,
    evRxFlag = 1u << 2,
    evRing = 1u << 3,
    evBreak = 1u << 4,
    evCTS = 1u << 5,
    evDSR = 1u << 6,
    evError = 1u << 7,
    evRLSD = 1u << 8,
    evRx80Full = 1u << 9,
};
using TComEvents = unsigned;
inline constexpr TComEvents kAllComEvents = 0x3FF;

class TComSignal;

struct TComTimeouts {
    int ReadInterval = -1;  // milliseconds, as all five
    int ReadTotalMultiplier = 0;
    int ReadTotalConstant = 0;
    int WriteTotalMultiplier = 100;
    int WriteTotalConstant = 1000;

    // Milliseconds cannot be negative; -1 is only meaningful as the read interval.
    bool Valid() const {
        return ReadInterval >= -1 && ReadTotalMultiplier >= 0 && ReadTotalConstant >= 0 &&
               WriteTotalMultiplier >= 0 && WriteTotalConstant >= 0;
    }
};

struct TComFlowControl {
    bool OutCTSFlow = false;
    bool OutDSRFlow = false;
    TDTRFlowControl ControlDTR = TDTRFlowControl::dtrDisable;
    TRTSFlowControl ControlRTS = TRTSFlowControl::rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    char XonChar = 0x11;
    char XoffChar = 0x13;
};

struct TComParity {
    TParityBits Bits = TParityBits::prNone;
    bool Check = false;
};

// Kept for the settings' sake: Linux has no driver queue sizes to set.
struct TComBuffer {
    int InputSize = 1024;
    int OutputSize = 1024;
};

// A serial port on the POSIX terminal interface.
//
// Threading contract: every member is called on the thread that created the object (the GUI
// thread). The event thread only waits for input and hands each bytes-received event to the
// owner thread synchronously; OnRxChar therefore runs on the owner thread, one event at a time.
// Closing never dead-locks with a hand-over in flight, and a close from inside OnRxChar (or a
// nested event loop below it) takes effect at once; the thread is joined once the handler returns.
// Once the line hangs up (device unplugged) or fails, the event thread stops waiting; the port
// stays Connected until it is closed, and writes fail with code 2.
// Close returns at once for the tool: the port is closed and nothing more is handed over. The
// descriptor's last close, which Linux holds while a USB device still has output to drain, runs
// in the background when output is still queued; until it has ended, an open of the same device
// fails like that of a busy port.
//
// A port opened with no Events has no event thread: its owner thread may be any thread, and waits
// for bytes with WaitForEvent.
class TCustomComPort : public QObject {
    Q_OBJECT
  public:
    explicit TCustomComPort(QObject* parent = nullptr);
    ~TCustomComPort() override;

    // A name without "/" means "/dev/NAME"; an absolute path is opened as it stands.
    std::string Port = "COM1";
    TBaudRate BaudRate = TBaudRate::br9600;
    int CustomBaudRate = 9600;
    TDataBits DataBits = TDataBits::dbEight;
    TStopBits StopBits = TStopBits::sbOneStopBit;
    TComParity Parity;
    TComFlowControl FlowControl;
    TComBuffer Buffer;
    TComTimeouts Timeouts;
    TSyncMethod SyncMethod = TSyncMethod::smThreadSync;
    bool TriggersOnRxChar = true;
    // The events the event thread watches; with none, the port has no event thread and its
    // owner waits by hand (WaitForEvent).
    TComEvents Events = kAllComEvents;

    // Raised on the owner thread with the receive-queue count, always greater than 0.
    std::function<void(QObject* sender, int count)> OnRxChar;

    bool Connected() const;
    void SetConnected(bool open);  // EComPort 1, 7, 8, 9 on open; 5 on close
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }

    // Re-applies the line settings at once when the port is open.
    void ApplyLineSettings();
    // The rate the line settings give: the standard one named, or the custom one.
    int ActualBaudRate() const;
    int DataBitCount() const;  // 5 to 8

    void ClearBuffer(bool input, bool output);  // EComPort 5
    int Read(void* buffer, int count);          // EComPort 3; bounded by the read timeouts
    int Write(const void* buffer, int count);   // EComPort 2; bounded by the write timeouts

    // Bytes waiting in the receive queue (FIONREAD); EComPort 10 on failure.
    int InputCount() const;
    // What has arrived, at most capacity bytes, at once whatever the read timeouts; 0 when
    // nothing has. EComPort 3, or 10 where the queue is counted first.
    int ReadArrived(void* buffer, int capacity);

    // Waits on the calling thread, when the port has no event thread, until one of events
    // happens, stop is raised or timeoutMs passes (-1: no limit). Returns the events that
    // happened, none on a timeout or a stop. EComPort 20 while the event thread runs, 21 when the
    // waiting fails or the line hangs up.
    TComEvents WaitForEvent(TComEvents events, const TComSignal& stop, int timeoutMs);

    // The open port's descriptor (its handle on Windows), for a wait on many ports at once.
    NativeHandle Handle() const { return handle_; }

    // For tests: how many event threads this port has started in its lifetime.
    int ThreadsStarted() const { return threadsStarted_; }

  private:
    friend class TComThread;
    // The platform's part.
    void openDevice();
    void closeDevice();
    void applyLine();
    void deliverRxChar();  // owner thread: the bytes-received handling
    void stopThread();     // the event thread, on closing
    void reapThreads();    // joins the stopped threads whose last hand-over has returned

    NativeHandle handle_ = kNoHandle;
    int fd() const { return int(handle_); }
    std::unique_ptr<TComThread> thread_;
    // Threads stopped by a close inside their own hand-over; joined once that handler returned.
    std::vector<std::unique_ptr<TComThread>> retired_;
    int threadsStarted_ = 0;
};

class TComPort : public TCustomComPort {
    Q_OBJECT
  public:
    using TCustomComPort::TCustomComPort;
};

}  // namespace vek
