#include <system_error>

#include "serial/ComSignal.h"
#include "serial/Win32Handle.h"

namespace vek {

TComSignal::TComSignal() : handle_(native(CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
    if (handle_ == 0)
        throw std::system_error(int(GetLastError()), std::system_category(), "CreateEvent");
}

TComSignal::~TComSignal() {
    CloseHandle(win32(handle_));
}

void TComSignal::raise() noexcept {
    raised_ = true;
    SetEvent(win32(handle_));
}

void TComSignal::waitRaised() const {
    while (!raised())
        WaitForSingleObject(win32(handle_), INFINITE);
}

}  // namespace vek
