#pragma once

#include <cstdint>

#include "cli/BoxLink.h"
#include "config/ConfigBlock.h"
#include "link/DeviceStatus.h"

namespace vek {

// The steps of servicing a box, shared by vekctl's single commands and the provisioning station.
// Failures come as CommandFailure, LinkError, EComPort or Interrupted.

// Uploads the carried firmware, waits for the box's next status and returns it (the new firmware
// may keep its configuration elsewhere); CommandFailure when no status comes or the version is not
// the carried one.
DeviceInfo uploadFirmware(BoxLink& link, const BoxLink::Progress& progress);

// Sends block as a configuration transfer.
void writeConfiguration(BoxLink& link, const EncodedConfig& block,
                        const BoxLink::Progress& progress);

// Reads the block back from base and compares; CommandFailure kExitMismatch when the box holds
// anything else.
void verifyConfiguration(BoxLink& link, uint32_t base, const EncodedConfig& block,
                         const BoxLink::Progress& progress);

}  // namespace vek
