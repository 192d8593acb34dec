#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vek {

struct PublishedVersion {
    int major = 0, minor = 0, letter = 0;  // letter as its character code, 0..999
    bool operator==(const PublishedVersion&) const = default;
};

inline constexpr PublishedVersion kOwnVersion{2, 36, 'D'};
inline constexpr const char* kUpdateHost = "www.norvane.com.br";

// Finds and checks the version record in the document body's text; nullopt on failure.
// The text is 8-bit, one byte per character: the caller converts the body markup with
// QString::toLatin1 (characters outside Latin-1 become '?', which keeps the length).
std::optional<PublishedVersion> parseVersionRecord(std::string_view bodyText);

// host + "/files/vektool.ver"
std::string versionFileAddress(std::string_view host);
// host + "/files/VekTool v%d.%d.%c.exe". A letter that cannot stand in an address as it is
// (a control character, '#', '?', '%', '/', a space, anything beyond ASCII) is percent-encoded
// from its UTF-8 form, so that every record gives an address that names the file it published.
std::string downloadAddress(std::string_view host, const PublishedVersion& version);

}  // namespace vek
