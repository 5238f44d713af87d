#pragma once

#include <string>
#include <vector>

// The helper's second mode: a capture of the monitored traffic on one tap's interface, written
// as pcap into a FIFO that a capture program (Wireshark through the extcap) reads.
//
//   kalvessa100-link --fifo PATH [--filter EXPRESSION] INTERFACE
//
// It carries the capture privilege, so it writes nowhere but into a FIFO, captures on nothing
// but a tap, and never passes on the tap's own control frames (both addresses all zero), which
// the other mode alone handles. It ends cleanly, the pcap whole and flushed, on SIGTERM, SIGINT
// or SIGHUP, when the FIFO's reader goes, or when its standard input ends (the program that ran
// it went away); it then tells on standard error how many packets were captured and dropped.
namespace fifocapture {

// Whether the arguments ask for this mode (the first is --fifo).
bool requested(const std::vector<std::string> &arguments);

// The capture could not be opened for want of the capture privilege (other failures: 1).
constexpr int NoPrivilegeStatus = 3;

// Runs the mode to its end; the process's exit status. A refusal (an interface that is not a
// tap, a path that is not a FIFO, a filter that does not compile, arguments out of order) is
// told in one line on standard error and ends with the helper's refusal status.
int run(const std::vector<std::string> &arguments);

}  // namespace fifocapture
