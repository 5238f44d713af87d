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

// Runs the helper until it ends; its exit status (the helper tells on standard error why, and
// how many packets it captured and dropped). 1, with the reason on standard error, when it
// cannot be started.
int run(const Request &request);

}  // namespace helpercapture
