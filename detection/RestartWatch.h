#pragma once

#include <QString>

#include "DeviceSettings.h"
#include "HostInterfaces.h"

// After an update only the tap's restart can tell whether it runs the new firmware: every page
// may have been acknowledged while the flash still holds something the tap will not start.
// This waits for the tap of one MAC address to go (unplugged, or its link down) and come back,
// then takes it anew and reads what it answers as.
struct RestartSeen
{
    enum class Result {
        AnswersCurrent,  // it came back answering as the firmware this program carries
        RunsOther,  // it came back answering as other firmware: `status`
        NoAnswer,  // it came back answering nothing: not the new firmware, which answers
        TimedOut,  // it did not go and come back (or could not be read) in time
    };
    Result result = Result::TimedOut;
    QString interfaceName;  // where it came back
    DeviceSettings status;  // RunsOther, AnswersCurrent: its status words
    bool wentAway = false;  // TimedOut: it went, but was not back (or not settled) in time
    QString reason;  // TimedOut after it came back: why it could not be read
};

// Waits up to timeoutMs; wakes on the kernel's link notices, and looks at least every
// LookMs besides.
RestartSeen awaitRestart(const MacAddress &address, int timeoutMs);

namespace restartwatch {
constexpr int LookMs = 200;
}
