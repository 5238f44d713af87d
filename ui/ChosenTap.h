#pragma once

#include <optional>

#include "HostInterfaces.h"

// The tap the person last chose in the window, kept by its MAC address (its identity whichever
// interface it comes up as) in the user's settings, so that the next run takes it again. The one
// thing the window keeps on the host.
namespace chosentap {

// Nothing when no tap was chosen yet, or what is kept is not an address.
std::optional<MacAddress> remembered();
// False when the choice could not be kept.
bool remember(const MacAddress &address);

}  // namespace chosentap
