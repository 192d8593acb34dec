// The local date and time as the user's locale writes them, from the C library.
#include <ctime>

#include "transfer/TransferNumber.h"

namespace vek {

namespace {
// strftime under the current LC_TIME; no locale's date or time comes near the buffer's size.
std::string formatTime(const char* format, const std::tm& time) {
    char text[256];
    return std::string(text, std::strftime(text, sizeof text, format, &time));
}
}  // namespace

std::string localDateTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return formatTime("%x", local) + formatTime("%X", local);
}

}  // namespace vek
