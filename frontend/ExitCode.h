#pragma once

#include <array>

// What the tool's exit status tells a script. The numbers are part of the interface: scripts
// on capture servers branch on them, so they never change meaning; new ones are only added.
enum class ExitCode {
    Success = 0,
    TapFailed = 1,  // the tap refused or did not answer; an update stopped part way
    BadInput = 2,  // a wrong option, value or settings file; nothing was sent
    NoTap = 3,  // no tap attached, or the named tap is not one
    Unreachable = 4,  // the tap is there but cannot be captured on
    InUse = 5,  // another program holds the tap
    TimedOut = 6,  // update-firmware --wait: the tap did not come back in time
    NotUpdated = 7,  // update-firmware --wait: the tap came back without the new firmware
};

inline int exitStatus(ExitCode code)
{
    return static_cast<int>(code);
}

// When one command serves several taps (--all), its status is that of the tap worst off: a
// tap that may no longer start outweighs one that merely could not be reached, which outweighs
// a mistake on the command line. Most severe first.
constexpr std::array<ExitCode, 8> ExitCodesBySeverity{
    ExitCode::NotUpdated, ExitCode::TapFailed, ExitCode::TimedOut, ExitCode::Unreachable,
    ExitCode::InUse,      ExitCode::BadInput,  ExitCode::NoTap,    ExitCode::Success,
};

constexpr int severityOf(ExitCode code)
{
    for (int rank = 0; rank < static_cast<int>(ExitCodesBySeverity.size()); ++rank) {
        if (ExitCodesBySeverity[rank] == code)
            return static_cast<int>(ExitCodesBySeverity.size()) - rank;
    }
    return 0;
}

constexpr ExitCode mostSevere(ExitCode a, ExitCode b)
{
    return severityOf(b) > severityOf(a) ? b : a;
}

static_assert(mostSevere(ExitCode::Success, ExitCode::NoTap) == ExitCode::NoTap);
static_assert(mostSevere(ExitCode::NotUpdated, ExitCode::TapFailed) == ExitCode::NotUpdated);
static_assert(mostSevere(ExitCode::InUse, ExitCode::Unreachable) == ExitCode::Unreachable);
