#pragma once

#include <string>

// The capture itself, always through the capture helper's FIFO mode: the extcap carries no
// capture privilege and never opens a capture of its own, so Wireshark runs nothing with more
// rights than the helper has.
namespace helpercapture {

// SIGTERM, SIGINT and SIGHUP from here on are passed on to the helper while it runs, and
// remembered before it does (see stopRequested), so that settings being written are not cut
// off half way.
void catchTermination();
bool stopRequested();

struct Request
{
    std::string helper;  // the helper's path
    std::string interfaceName;
    std::string fifo;
    std::string filter;  // empty: every frame but the tap's own
};

// The helper could not be started (run by someone outside the group allowed to run it, or
// missing); the reason has been told on standard error.
constexpr int NotStarted = -1;
// The helper's own status when the capture privilege was missing.
constexpr int NoPrivilege = 3;

// Runs the helper until it ends; its exit status (the helper tells on standard error why, and
// how many packets it captured and dropped), or NotStarted.
int run(const Request &request);

}  // namespace helpercapture
