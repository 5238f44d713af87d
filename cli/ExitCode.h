#pragma once

// What the tool's exit status tells a script. The numbers are part of the interface: scripts
// on capture servers branch on them, so they never change meaning.
enum class ExitCode {
    Success = 0,
    TapFailed = 1,  // the tap refused or did not answer, or could not be told apart
    BadInput = 2,  // a wrong option, value or settings file; nothing was sent
    NoTap = 3,  // no tap attached, or the named interface is not one
    Unreachable = 4,  // the tap is there but cannot be captured on
    InUse = 5,  // another program holds the tap
};

inline int exitStatus(ExitCode code)
{
    return static_cast<int>(code);
}
