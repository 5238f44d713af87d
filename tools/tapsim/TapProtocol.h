#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>

#include "FrameLayout.h"
#include "TapState.h"

namespace tapsim {

// Codes this tap uses beyond the host's success codes. Every success code is its opcode with
// the nibbles swapped; the commit's code follows the same rule although the host ignores it.
namespace code {
constexpr uint8_t Commit = 0xF8;
constexpr uint8_t Refused = 0xFF;  // unknown opcode, page outside the area or outside a run
}  // namespace code

constexpr int MinReplyFrameLength = 60;  // Ethernet minimum without FCS
constexpr int MaxFrameLength = 1514;  // 1500-byte MTU plus the Ethernet header

// Is this frame addressed to the tap as a command: all-zero header and room for an opcode.
bool isCommandFrame(const uint8_t *bytes, int length);

// Bit k of every byte becomes bit 7 - k. The host mirrors firmware bytes before sending them;
// the tap stores them back in image order.
uint8_t mirrorBits(uint8_t byte);

struct Reply
{
    std::array<uint8_t, MaxFrameLength> bytes{};  // zero beyond the length
    int length = 0;
};

struct ProtocolFaults
{
    std::map<uint8_t, uint8_t> wrongCodes;  // opcode -> code answered instead of the right one
    std::map<int, int> refusedPages;  // page index -> how many more times to refuse it
};

// Carries out one command frame on the tap's state and says what the tap answers.
class TapProtocol
{
public:
    // What the tap starts after a restart once its firmware area has been written.
    enum class Boot {
        Verified,  // firmware 4.0 only from the exact image this program carries; else silent
        AnyImage,  // firmware 4.0 from whatever the area holds, a corrupted image included
    };

    TapProtocol(int generation, TapState &state, ProtocolFaults faults = {},
                bool resetAfterUpdate = false, Boot boot = Boot::Verified);

    // Applies a command frame (only the first `length` bytes are read) and returns the reply,
    // or nothing for a generation-3 tap and for frames that are not commands.
    std::optional<Reply> handle(const uint8_t *bytes, int length);

    // True once after each completed programming run; the caller saves the state then.
    bool takeProgrammingCompleted();

    // Power cycle: an open programming run is lost, and the tap starts what its flash holds.
    // Before anything wrote the firmware area that is the firmware it came with. After a write,
    // the exact image starts as generation 4 with firmware 4.0; anything else leaves only the
    // boot loader, which answers nothing but still takes the generation-3 erase and page
    // commands, so that the update can be run again.
    void restart();
    int generation() const { return m_generation; }
    static bool holdsCarriedImage(const TapState &state);

private:
    std::optional<Reply> handleGeneration4(const uint8_t *bytes, int length);
    void handleGeneration3(const uint8_t *bytes, int length);
    uint8_t carryOut(uint8_t opcode, const uint8_t *bytes, int length, uint8_t *value);
    uint8_t programPage(const uint8_t *bytes, int length);

    int m_generation;
    TapState &m_state;
    ProtocolFaults m_faults;
    const bool m_resetAfterUpdate;
    const Boot m_boot;
    bool m_programmingCompleted = false;
    bool m_restartDue = false;
};

}  // namespace tapsim
