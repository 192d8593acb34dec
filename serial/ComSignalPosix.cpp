#include "serial/ComSignal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace vek {

TComSignal::TComSignal() : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (handle_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

TComSignal::~TComSignal() {
    ::close(int(handle_));
}

void TComSignal::raise() noexcept {
    raised_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(int(handle_), &one, sizeof one);
}

void TComSignal::waitRaised() const {
    pollfd raisedEvent{int(handle_), POLLIN, 0};
    while (!raised())
        ::poll(&raisedEvent, 1, -1);
}

}  // namespace vek
