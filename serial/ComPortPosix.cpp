// The serial port on the POSIX terminal interface.
#include "serial/ComPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "serial/ComSignal.h"
#include "serial/ComThread.h"
#include "serial/DeferredClose.h"
#include "serial/EComPort.h"
#include "serial/EnumComPorts.h"
#include "serial/TermiosSpeed.h"

namespace vek {

namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;  // none: no time limit

struct StandardSpeed {
    int rate;
    speed_t code;
};

constexpr StandardSpeed kStandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> standardSpeed(int rate) {
    for (const StandardSpeed& speed : kStandardSpeeds) {
        if (speed.rate == rate)
            return speed.code;
    }
    return std::nullopt;
}

tcflag_t characterSize(int bits) {
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    return kSizes[std::clamp(bits, 5, 8) - 5];
}

// A pseudo-terminal has no modem lines; that is not an error.
void setModemLine(int fd, int line, bool active) {
    if (ioctl(fd, active ? TIOCMBIS : TIOCMBIC, &line) != 0 && errno != ENOTTY && errno != EINVAL) {
        throw EComPort(7, errno);
    }
}

// The line settings; EComPort 7.
void applyLineTo(int fd, const TCustomComPort& port) {
    const int rate = port.ActualBaudRate();
    if (rate <= 0)
        throw EComPort(7, EINVAL);

    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        throw EComPort(7, errno);
    cfmakeraw(&settings);  // byte-transparent: no echo, line editing, signals or translation
    settings.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    settings.c_cflag |= CREAD | CLOCAL | characterSize(port.DataBitCount());
    if (port.StopBits == TStopBits::sbTwoStopBits)
        settings.c_cflag |= CSTOPB;
    if (port.Parity.Bits != TParityBits::prNone)
        settings.c_cflag |= PARENB;
    if (port.Parity.Bits == TParityBits::prOdd)
        settings.c_cflag |= PARODD;
    // Linux pairs CTS with RTS in one flag and has no DSR handshake.
    if (port.FlowControl.OutCTSFlow)
        settings.c_cflag |= CRTSCTS;

    settings.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    if (port.Parity.Check)
        settings.c_iflag |= INPCK;
    if (port.FlowControl.XonXoffOut)
        settings.c_iflag |= IXON;
    if (port.FlowControl.XonXoffIn)
        settings.c_iflag |= IXOFF;
    settings.c_cc[VSTART] = static_cast<cc_t>(port.FlowControl.XonChar);
    settings.c_cc[VSTOP] = static_cast<cc_t>(port.FlowControl.XoffChar);

    // A rate without a B constant goes through termios2 afterwards: a tcsetattr undoes it.
    const std::optional<speed_t> standard = standardSpeed(rate);
    if (cfsetspeed(&settings, standard.value_or(B38400)) != 0)
        throw EComPort(7, errno);
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        throw EComPort(7, errno);
    if (!standard) {
        if (const int error = setOtherSpeed(fd, rate))
            throw EComPort(7, error);
    }

    setModemLine(fd, TIOCM_DTR, port.FlowControl.ControlDTR == TDTRFlowControl::dtrEnable);
    setModemLine(fd, TIOCM_RTS, port.FlowControl.ControlRTS == TRTSFlowControl::rtsEnable);
}

// A total timeout of multiplier * count + constant milliseconds; 0 means none.
Deadline totalDeadline(Clock::time_point start, int multiplier, int constant, int count) {
    const int64_t total = int64_t{multiplier} * count + constant;
    if (total == 0)
        return std::nullopt;
    return start + std::chrono::milliseconds(total);
}

Deadline earlier(Deadline a, Deadline b) {
    if (!a)
        return b;
    if (!b)
        return a;
    return std::min(*a, *b);
}

// Waits until fd is ready for events or the deadline passes; false on the deadline.
bool waitReady(int fd, short events, Deadline deadline, int errorCode) {
    for (;;) {
        int timeoutMs = -1;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            timeoutMs = static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX));
        }
        pollfd waited{fd, events, 0};
        const int n = poll(&waited, 1, timeoutMs);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            throw EComPort(errorCode, errno);
    }
}

}  // namespace

void TCustomComPort::openDevice() {
    const std::string path = PortPath(Port);
    // This process still closing the device: the open would wait for that close to end.
    struct stat node {};
    if (::stat(path.c_str(), &node) == 0 && S_ISCHR(node.st_mode) && closingUnderWay(node.st_rdev))
        throw EComPort(1, EBUSY);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw EComPort(1, errno);
    // No sharing: the lock turns away every later opener, root too, and TIOCEXCL those that do
    // not lock but are not root. TIOCEXCL belongs to the line, not to this descriptor, so it is
    // set only once the lock is ours and cleared on every way out. It fails only on a
    // non-terminal, which the line settings then refuse.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        throw EComPort(1, error);
    }
    ioctl(fd, TIOCEXCL);
    try {
        // The buffer sizes have nothing to apply on Linux: they are kept as settings only.
        applyLineTo(fd, *this);
        if (!Timeouts.Valid())
            throw EComPort(8, EINVAL);
        if (Events != 0)
            thread_ = std::make_unique<TComThread>(*this, fd);
    } catch (...) {
        closeDeviceNow(fd);
        throw;
    }
    handle_ = fd;
    if (thread_)
        ++threadsStarted_;
}

void TCustomComPort::closeDevice() {
    // A line that hung up has nothing left to discard.
    const bool flushed = tcflush(fd(), TCIOFLUSH) == 0 || errno == EIO;
    const int flushError = errno;

    stopThread();
    // What the driver still holds after the flush (a USB transfer under way) would hold the
    // close until it drains, if it ever does.
    int queued = 0;
    const int fd = int(std::exchange(handle_, kNoHandle));
    if (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        struct stat node {};
        closeDeviceInBackground(
            fd, fstat(fd, &node) == 0 ? std::optional<DeviceId>(node.st_rdev) : std::nullopt);
    } else {
        closeDeviceNow(fd);
    }
    if (!flushed)
        throw EComPort(5, flushError);
}

void TCustomComPort::applyLine() {
    applyLineTo(fd(), *this);
}

void TCustomComPort::ClearBuffer(bool input, bool output) {
    if (!input && !output)
        return;
    const int queues = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    if (tcflush(fd(), queues) != 0)
        throw EComPort(5, errno);
}

int TCustomComPort::Read(void* buffer, int count) {
    if (count <= 0)
        return 0;
    const TComTimeouts& timeouts = Timeouts;
    // The read interval alone at -1: what has arrived, at once.
    const bool immediate = timeouts.ReadInterval < 0 && timeouts.ReadTotalMultiplier == 0 &&
                           timeouts.ReadTotalConstant == 0;
    const Deadline total = totalDeadline(Clock::now(), timeouts.ReadTotalMultiplier,
                                         timeouts.ReadTotalConstant, count);
    auto* bytes = static_cast<uint8_t*>(buffer);
    int got = 0;
    Deadline interval;  // runs from the latest byte once one has come
    while (got < count) {
        const ssize_t n = ::read(fd(), bytes + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            if (timeouts.ReadInterval > 0) {
                interval = Clock::now() + std::chrono::milliseconds(timeouts.ReadInterval);
            }
            continue;
        }
        if (n == 0) {
            // End of file on a terminal: the line hung up. Hand over what came first.
            if (got > 0)
                return got;
            throw EComPort(3, EIO);
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            throw EComPort(3, errno);
        if (immediate || !waitReady(fd(), POLLIN, earlier(total, interval), 3))
            break;
    }
    return got;
}

// One read, no count asked first: a terminal's read hands over what its queue holds.
int TCustomComPort::ReadArrived(void* buffer, int capacity) {
    while (capacity > 0) {
        const ssize_t n = ::read(fd(), buffer, static_cast<size_t>(capacity));
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0)
            throw EComPort(3, EIO);  // the line hung up
        if (errno == EAGAIN)
            break;
        if (errno != EINTR)
            throw EComPort(3, errno);
    }
    return 0;
}

int TCustomComPort::Write(const void* buffer, int count) {
    if (count <= 0)
        return 0;
    // The line failed under the event thread: unplugged, or an error the terminal may not
    // report to a write.
    if (thread_ && thread_->lineGone())
        throw EComPort(2, EIO);
    const Deadline deadline = totalDeadline(Clock::now(), Timeouts.WriteTotalMultiplier,
                                            Timeouts.WriteTotalConstant, count);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    int written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd(), bytes + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw EComPort(2, errno);
        // What could not go out by the deadline stays unwritten, as the count tells.
        if (!waitReady(fd(), POLLOUT, deadline, 2))
            break;
    }
    return written;
}

int TCustomComPort::InputCount() const {
    int count = 0;
    if (ioctl(fd(), FIONREAD, &count) != 0)
        throw EComPort(10, errno);
    return count;
}

TComEvents TCustomComPort::WaitForEvent(TComEvents events, const TComSignal& stop, int timeoutMs) {
    if (thread_)
        throw EComPort(20);
    const Deadline deadline =
        timeoutMs < 0 ? Deadline{} : Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            waitMs = int(std::max<int64_t>(left.count(), 0));
        }
        const short portEvents = (events & evRxChar) != 0 ? POLLIN : 0;
        std::array<pollfd, 2> waited{{{fd(), portEvents, 0}, {int(stop.handle()), POLLIN, 0}}};
        const int n = poll(waited.data(), waited.size(), waitMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw EComPort(21, errno);
        if (stop.raised() || n == 0)
            return 0;
        // Unplugged or the far end gone: it would be reported at once for ever.
        if ((waited[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            throw EComPort(21, EIO);
        if ((waited[0].revents & POLLIN) != 0)
            return evRxChar;
    }
}

}  // namespace vek
