#include "config/ConfigBlock.h"

#include <algorithm>
#include <span>
#include <string>

#include "link/DevicePacket.h"

namespace vek {

namespace {

constexpr std::array<uint8_t, 4> kMagic{0xCA, 0xFE, 0xF0, 0xDA};
constexpr std::size_t kLengthOffset = 4;
constexpr std::size_t kMarkersOffset = 6;
constexpr std::size_t kPingOffset = 8;
constexpr std::size_t kA232Offset = 10;
constexpr std::size_t kB232Offset = 12;
constexpr std::size_t kAcpCodeOffset = 16;
constexpr std::size_t kAcnCodeOffset = 17;
constexpr std::size_t kChecksumOffset = 36;
// The length counts the bytes from the markers up to the checksum; the whole record is that
// plus magic, length and checksum.
constexpr uint16_t kLength = kChecksumOffset - kMarkersOffset;
constexpr std::size_t kRecordOverhead = 9;

struct FieldSlot {
    std::size_t offset;
    std::size_t size;  // 1 or 2
};

// Indexed by ConfigField, which runs in block order.
constexpr std::array<FieldSlot, kConfigFieldCount> kFieldSlots{{
    {14, 1},
    {15, 1},
    {19, 1},
    {20, 1},
    {22, 1},
    {23, 1},
    {25, 2},
    {27, 1},
    {29, 1},
    {30, 1},
    {32, 1},
    {33, 2},
    {35, 1},
}};

// Indexed by AlertGroup.
constexpr std::array<std::size_t, 5> kGroupCodeOffsets{18, 21, 24, 28, 31};

uint32_t sumOf(const uint8_t* bytes, std::size_t size) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i < size; ++i)
        sum += bytes[i];
    return sum;
}

ConfigRejection listRejection(const char* label) {
    return {std::nullopt, invalidParameterMessage(label, MessageStyle::Write)};
}

int indexOf(std::span<const int> choices, int value) {
    const auto it = std::find(choices.begin(), choices.end(), value);
    return it == choices.end() ? -1 : static_cast<int>(it - choices.begin());
}

// The list index of a stored choice; a value that is none of them leaves the list unselected.
int shownChoice(std::span<const int> choices, int value, int& problems) {
    const int index = indexOf(choices, value);
    if (index < 0)
        ++problems;
    return index;
}

// A decimal digit of an alert code; above its limit it leaves its check boxes as they were.
std::optional<int> shownDigit(int digit, int limit, int& problems) {
    if (digit > limit) {
        ++problems;
        return std::nullopt;
    }
    return digit;
}

ReadBackGroup shownGroup(uint8_t code, int& problems) {
    ReadBackGroup shown;
    if (const auto tens = shownDigit(code / 10, 4, problems))
        shown.buzzer = std::array<bool, 3>{(*tens & 1) != 0, (*tens & 2) != 0, (*tens & 4) != 0};
    if (const auto units = shownDigit(code % 10, 3, problems))
        shown.event = std::array<bool, 2>{(*units & 1) != 0, (*units & 2) != 0};
    return shown;
}

}  // namespace

uint32_t storedMaximum(ConfigField field) {
    return kFieldSlots[std::size_t(field)].size == 2 ? 0xFFFF : 0xFF;
}

std::array<uint8_t, 5> closingBytesOf(const uint8_t* bytes, std::size_t size) {
    uint8_t x = 0;
    for (std::size_t i = 0; i < size; ++i)
        x ^= bytes[i];
    std::array<uint8_t, 5> closing{x};
    writeBE32(&closing[1], sumOf(bytes, size));
    return closing;
}

std::vector<ConfigRejection> configRejections(const PanelValues& panel) {
    std::vector<ConfigRejection> found;
    if (!choiceAt(kPingChoices, panel.pingIndex))
        found.push_back(listRejection(kPingLabel));
    if (choiceAt(kBaudChoicesInHundreds, panel.a232Index) != kA232Kept)
        found.push_back(listRejection(kA232Label));
    if (!choiceAt(kBaudChoicesInHundreds, panel.b232Index))
        found.push_back(listRejection(kB232Label));
    // The fields run in block order, after the lists.
    for (int f = 0; f < kConfigFieldCount; ++f) {
        const auto field = static_cast<ConfigField>(f);
        if (!checkedFieldValue(field, panel.edit(field)))
            found.push_back({field, invalidParameterMessage(fieldLabel(field, MessageStyle::Write),
                                                            MessageStyle::Write)});
    }
    return found;
}

std::variant<EncodedConfig, ConfigRejection> encodeConfigBlock(const PanelValues& panel) {
    if (auto rejections = configRejections(panel); !rejections.empty())
        return std::move(rejections.front());
    const int ping = *choiceAt(kPingChoices, panel.pingIndex);
    const int b232 = *choiceAt(kBaudChoicesInHundreds, panel.b232Index);

    EncodedConfig out{};
    ConfigBlockBytes& b = out.block;
    b.fill(0xFF);
    std::copy(kMagic.begin(), kMagic.end(), b.begin());
    writeBE16(&b[kLengthOffset], kLength);
    b[kMarkersOffset] = 0x01;
    b[kMarkersOffset + 1] = 0x02;
    writeBE16(&b[kPingOffset], static_cast<uint32_t>(ping));
    writeBE16(&b[kA232Offset], static_cast<uint32_t>(kA232Kept));
    writeBE16(&b[kB232Offset], static_cast<uint32_t>(b232));
    b[kAcpCodeOffset] = static_cast<uint8_t>(simpleAlertCode(panel.bzAcp, panel.evAcp));
    b[kAcnCodeOffset] = static_cast<uint8_t>(simpleAlertCode(panel.bzAcn, panel.evAcn));
    for (const AlertGroup g : kAlertGroups)
        b[kGroupCodeOffsets[static_cast<int>(g)]] =
            static_cast<uint8_t>(groupAlertCode(panel.group(g)));

    for (int f = 0; f < kConfigFieldCount; ++f) {
        const auto field = static_cast<ConfigField>(f);
        const uint32_t value = *checkedFieldValue(field, panel.edit(field));
        const FieldSlot slot = kFieldSlots[f];
        if (slot.size == 2)
            writeBE16(&b[slot.offset], value);
        else
            b[slot.offset] = static_cast<uint8_t>(value);
    }

    writeBE24(&b[kChecksumOffset], sumOf(b.data(), kChecksumOffset));
    out.closing = closingBytesOf(b.data(), b.size());
    return out;
}

std::optional<ReadBackDisplay> decodeConfigBlock(const ConfigBlockBytes& b) {
    if (!std::equal(kMagic.begin(), kMagic.end(), b.begin()))
        return std::nullopt;
    // At least 9 and at most the block: the sum and its 24-bit field lie inside the block.
    const std::size_t total = readBE16(&b[kLengthOffset]) + kRecordOverhead;
    if (total > b.size())
        return std::nullopt;
    const std::size_t sumAt = total - 3;
    if ((sumOf(b.data(), sumAt) & 0xFFFFFF) != readBE24(&b[sumAt]))
        return std::nullopt;

    // The fields sit at fixed offsets whatever the length says; each failed test counts once,
    // so an alert code with both digits out of range counts twice.
    ReadBackDisplay shown;
    int& problems = shown.problems;
    shown.pingIndex = shownChoice(kPingChoices, readBE16(&b[kPingOffset]), problems);
    const int a232 = readBE16(&b[kA232Offset]);
    shown.a232Index = shownChoice(kBaudChoicesInHundreds, a232, problems);
    if (a232 != kA232Kept)
        ++problems;
    shown.b232Index = shownChoice(kBaudChoicesInHundreds, readBE16(&b[kB232Offset]), problems);

    for (int f = 0; f < kConfigFieldCount; ++f) {
        const FieldSlot slot = kFieldSlots[f];
        const unsigned value = slot.size == 2 ? readBE16(&b[slot.offset]) : b[slot.offset];
        shown.edits[f] = std::to_string(value);
    }

    const auto shownSimple = [&](uint8_t code, std::optional<bool>& buzzer,
                                 std::optional<bool>& event) {
        if (const auto tens = shownDigit(code / 10, 1, problems))
            buzzer = *tens == 1;
        if (const auto units = shownDigit(code % 10, 1, problems))
            event = *units == 1;
    };
    shownSimple(b[kAcpCodeOffset], shown.bzAcp, shown.evAcp);
    shownSimple(b[kAcnCodeOffset], shown.bzAcn, shown.evAcn);
    for (const AlertGroup g : kAlertGroups)
        shown.groups[static_cast<int>(g)] =
            shownGroup(b[kGroupCodeOffsets[static_cast<int>(g)]], problems);

    // A block whose bytes equal their offsets holds no configuration.
    if (b[14] == 14 && b[15] == 15 && b[16] == 16 && b[17] == 17)
        ++problems;
    return shown;
}

}  // namespace vek
