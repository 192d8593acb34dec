#pragma once

// Inside the serial component on Windows only: a NativeHandle as the API's HANDLE.

#include <windows.h>

#include "serial/NativeHandle.h"

namespace vek {

inline HANDLE win32(NativeHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
inline NativeHandle native(HANDLE handle) {
    return reinterpret_cast<NativeHandle>(handle);
}

// An overlapped operation's own event, closed with it.
struct Overlapped : OVERLAPPED {
    Overlapped() : OVERLAPPED{} { hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() {
        if (hEvent)
            CloseHandle(hEvent);
    }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
};

}  // namespace vek
