#include "update/VersionRecord.h"

#include <cstdio>

namespace vek {

namespace {

// Body texts outside these bounds are rejected before the record is looked for.
constexpr std::size_t kShortestText = 33;
constexpr std::size_t kLongestText = 499;

// The record's layout: '9' stands for a decimal digit, every other character for itself.
constexpr std::string_view kLayout = "#*$(999.999.999@@999.999.999)$*#";
constexpr std::size_t kMajorAt = 4, kMinorAt = 8, kLetterAt = 12;
constexpr std::size_t kFirstCopyAt = 4, kSecondCopyAt = 17, kCopyLength = 11;

bool matchesLayout(std::string_view record) {
    for (std::size_t i = 0; i < kLayout.size(); ++i) {
        // Compared as bytes: no locale, no sign extension of characters beyond ASCII.
        const bool ok =
            kLayout[i] == '9' ? record[i] >= '0' && record[i] <= '9' : record[i] == kLayout[i];
        if (!ok)
            return false;
    }
    return record.substr(kFirstCopyAt, kCopyLength) == record.substr(kSecondCopyAt, kCopyLength);
}

int threeDigits(std::string_view record, std::size_t at) {
    return (record[at] - '0') * 100 + (record[at + 1] - '0') * 10 + (record[at + 2] - '0');
}

bool isUnreservedInAddress(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// The release letter as it stands in the download address.
std::string addressLetter(int letter) {
    if (isUnreservedInAddress(letter))
        return std::string(1, static_cast<char>(letter));
    std::string bytes;
    if (letter >= 0 && letter < 0x80) {
        bytes = std::string(1, static_cast<char>(letter));
    } else if (letter >= 0x80 && letter < 0x800) {
        bytes = {static_cast<char>(0xC0 | (letter >> 6)),
                 static_cast<char>(0x80 | (letter & 0x3F))};
    } else {
        bytes = "\xEF\xBF\xBD";  // not a three-digit code: the replacement character
    }
    std::string encoded;
    for (const char byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(byte));
        encoded += hex;
    }
    return encoded;
}

}  // namespace

std::optional<PublishedVersion> parseVersionRecord(std::string_view bodyText) {
    if (bodyText.size() < kShortestText || bodyText.size() > kLongestText)
        return std::nullopt;
    // Only the first number sign is tried, even if a valid record follows later.
    const std::size_t start = bodyText.find('#');
    if (start == std::string_view::npos || bodyText.size() - start < kLayout.size())
        return std::nullopt;
    const std::string_view record = bodyText.substr(start, kLayout.size());
    if (!matchesLayout(record))
        return std::nullopt;
    return PublishedVersion{threeDigits(record, kMajorAt), threeDigits(record, kMinorAt),
                            threeDigits(record, kLetterAt)};
}

std::string versionFileAddress(std::string_view host) {
    return std::string(host) + "/files/vektool.ver";
}

std::string downloadAddress(std::string_view host, const PublishedVersion& version) {
    return std::string(host) + "/files/VekTool v" + std::to_string(version.major) + "." +
           std::to_string(version.minor) + "." + addressLetter(version.letter) + ".exe";
}

}  // namespace vek
