#pragma once

#include <cstdint>
#include <functional>

#include "DeviceSettings.h"
#include "OperationProgress.h"
#include "TapOutcome.h"

class HeldTap;

// The operations the window's worker and the command-line tool carry out on a held tap. Each
// ends with exactly one TapOutcome; a tap that does not confirm what it is sent ends a write or
// an update as sent but not confirmed, never as succeeded.
namespace tapoperation {

using ProgressSink = std::function<void(const OperationProgress &)>;

// Into the working copy and, to store, then into the stored one, as the window's Flash; the
// first copy that does not take them ends the operation.
TapOutcome writeSettings(HeldTap &tap, const DeviceSettings &settings, bool store);
// The working copy, or the stored one. *settings keeps what could be read even when it failed.
TapOutcome readSettings(HeldTap &tap, DeviceSettings *settings, bool stored = false);
// The firmware image into the tap. `progress` hears the device's stages as one weighted figure.
TapOutcome updateFirmware(HeldTap &tap, const uint8_t *image, int length,
                          const ProgressSink &progress = {});
// A request that found no tap to work on.
TapOutcome withoutTap(TapOutcome::Action action);

}  // namespace tapoperation
