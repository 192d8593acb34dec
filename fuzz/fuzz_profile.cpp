// A profile file as a person may have edited it: read, and when it is taken, written again and
// read back to the same panel.
#include <QByteArray>

#include "config/Profile.h"
#include "fuzz/FuzzCheck.h"

using vek::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const auto parsed = vek::parseProfile(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    const auto* profile = std::get_if<vek::Profile>(&parsed);
    if (!profile)
        return 0;
    const auto again = vek::parseProfile(vek::profileJson(*profile));
    const auto* back = std::get_if<vek::Profile>(&again);
    check(back != nullptr);
    check(vek::differences(profile->panel, back->panel).empty());
    return 0;
}
