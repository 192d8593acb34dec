// The local date and time as the user's regional settings write them: the short date and the
// long time, as Windows formats them.
#include <windows.h>

#include "transfer/TransferNumber.h"

namespace vek {

namespace {
std::string formatted(int (*format)(LCID, DWORD, const SYSTEMTIME*, LPCSTR, LPSTR, int),
                      DWORD flags) {
    char text[256];
    const int size = format(LOCALE_USER_DEFAULT, flags, nullptr, nullptr, text, sizeof text);
    return size > 0 ? std::string(text, std::size_t(size - 1)) : std::string();
}
}  // namespace

std::string localDateTimeText() {
    return formatted(GetDateFormatA, DATE_SHORTDATE) + formatted(GetTimeFormatA, 0);
}

}  // namespace vek
