#include "serial/DeferredClose.h"
#include "serial/Win32Handle.h"

namespace vek {

void closeDeviceNow(NativeHandle device) {
    CloseHandle(win32(device));
}

}  // namespace vek
