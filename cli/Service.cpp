#include "cli/Service.h"

#include <numeric>

#include "cli/ExitCode.h"
#include "transfer/FirmwareImage.h"

namespace vek {

namespace {
constexpr std::chrono::seconds kNewStatusWait{
    10};  // a box reports its new firmware after a restart
}

DeviceInfo uploadFirmware(BoxLink& link, const BoxLink::Progress& progress) {
    link.transfer(FwData, FirmwareImage(), FirmwareClosing(), progress);
    const auto after = link.waitForAnnouncement(kNewStatusWait);
    if (!after)
        throw CommandFailure(kExitNoBox, "no_status_after_update",
                             "o Vek não informou a nova versão depois da atualização");
    if (after->operatingMode() ||
        decideDeviceAction(after->status->version) != DeviceAction::UpToDateThenRead)
        throw CommandFailure(kExitMismatch, "version_mismatch",
                             "depois da atualização o Vek informa " +
                                 (after->status ? "a versão " + versionText(after->status->version)
                                                : std::string("o modo de operação")));
    return *after->status;
}

void writeConfiguration(BoxLink& link, const EncodedConfig& block,
                        const BoxLink::Progress& progress) {
    link.transfer(ConfigData, block.block, block.closing, progress);
}

void verifyConfiguration(BoxLink& link, uint32_t base, const EncodedConfig& block,
                         const BoxLink::Progress& progress) {
    const ConfigBlockBytes stored = link.readConfig(base, progress);
    if (stored == block.block)
        return;
    const int differing =
        std::inner_product(stored.begin(), stored.end(), block.block.begin(), 0, std::plus<>(),
                           [](uint8_t a, uint8_t b) { return a != b ? 1 : 0; });
    throw CommandFailure(
        kExitMismatch, "verify_mismatch",
        "a configuração lida de volta difere da gravada (" + std::to_string(differing) + " bytes)");
}

}  // namespace vek
