#pragma once

namespace tapsim {

class CaptureLink;
class SimulatedTap;
struct TapOptions;

// The simulator program's main loop on its capture: waits (without polling) for frames,
// signals and the tap's next due work, and answers the test bed's handshakes on standard
// output ("ready", "sync <nonce>", "state <n>").
class TapLoop
{
public:
    TapLoop(const TapOptions &options, CaptureLink &link, SimulatedTap &tap);

    // Runs until SIGTERM/SIGINT/SIGHUP (exit code 0) or until the capture fails, for example
    // because the interface went away (exit code 3). The state is saved either way.
    int run();

private:
    int finish(int exitCode);

    const TapOptions &m_options;
    CaptureLink &m_link;
    SimulatedTap &m_tap;
    unsigned m_stateSaves = 0;
};

}  // namespace tapsim
