// The version record check on a document body's text, and the addresses made from its result.
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "update/VersionRecord.h"

using vek::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto version = vek::parseVersionRecord(text);
    if (!version)
        return 0;
    for (const int part : {version->major, version->minor, version->letter})
        check(part >= 0 && part <= 999);
    // The download address names the file without a character that would end or split it.
    const std::string address = vek::downloadAddress(vek::kUpdateHost, *version);
    for (const char c : address)
        check(c >= ' ' && c < 0x7F && c != '#' && c != '?');
    check(address.ends_with(".exe"));
    return 0;
}
