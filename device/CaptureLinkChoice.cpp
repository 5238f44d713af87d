#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "FrameLink.h"
#include "HelperFrameLink.h"
#include "PcapFrameLink.h"

namespace {

constexpr int CapNetRaw = 13;

// Whether this process may capture by itself: CAP_NET_RAW in its effective set, as root has it
// and a test in a private namespace. Read from the kernel's own account rather than assumed
// from the user id, since file capabilities give it without root.
bool mayCapture()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        constexpr const char *Key = "CapEff:";
        if (line.rfind(Key, 0) != 0)
            continue;
        try {
            const uint64_t effective =
                std::stoull(line.substr(std::char_traits<char>::length(Key)), nullptr, 16);
            return (effective >> CapNetRaw) & 1U;
        } catch (const std::exception &) {
            return false;
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<FrameLink> makeCaptureLink(const std::string &interfaceName)
{
#ifdef KALVESSA_LINK_HELPER_BUILT
    const char *forced = std::getenv("KALVESSA_TAP_LINK");
    if (forced != nullptr && std::string(forced) == "helper")
        return std::make_unique<HelperFrameLink>(interfaceName, KALVESSA_LINK_HELPER_BUILT);
#endif
    if (mayCapture())
        return std::make_unique<PcapFrameLink>(interfaceName);
    return std::make_unique<HelperFrameLink>(interfaceName, HelperFrameLink::helperPath());
}
