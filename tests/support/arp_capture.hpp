// The ARP frames an interface of a test's namespace receives, for checking what went on the wire.
#pragma once

#include "platform/unique_fd.hpp"

#include <string>
#include <vector>

namespace vttest {

// Every ARP frame the interface receives from the moment this is made.
class arp_capture {
public:
    arp_capture(const std::string& ns, const char* ifname);
    bool ok() const { return sock_.valid(); }
    // The frames that announce `addr` (sender and target protocol address both `addr`), read
    // until the segment has been quiet for half a second.
    std::vector<std::string> announcements(const char* addr);

private:
    cutil::unique_fd sock_;
};

} // namespace vttest
