#pragma once

// What a tap can be asked to do. Callers ask the tap, never its generation number: an operation
// a tap lacks fails with a reason rather than reporting work it did not do.
struct DeviceAbilities
{
    bool readsBack = false;  // its registers and settings can be read
    bool confirms = false;  // it acknowledges every command, so what it took can be known
    // Firmware goes in through an acknowledged programming run, page by page. Without it, the
    // tap's flash is erased sector by sector and written with one-way page writes.
    bool programsPages = false;

    bool operator==(const DeviceAbilities &) const = default;
};
