// Changes carried out through rtnetlink, each acknowledged: the kernel's own error number for
// every request, never a request sent without reading its answer.
#pragma once

#include "platform/unique_fd.hpp"

#include <linux/netlink.h>
#include <sys/types.h>

#include <cstdint>

namespace cutil::platform::linux_rtnl {

// Sends the request on the netlink socket `fd` with NLM_F_ACK added and reads up to its
// acknowledgement (answers for other sequence numbers are passed over): 0, or the errno the
// kernel answered.
int acked_request(int fd, nlmsghdr* request);

// One netlink socket kept for a run of changes, with its own sequence numbers. A socket opened
// by another process (the parent of a fork) or in another network namespace is never used: the
// change would land in the wrong kernel table, so such a session opens a fresh socket.
class netlink_session {
public:
    // Carries out one change request: 0, or the errno the kernel or the socket answered.
    int change(nlmsghdr* request);

private:
    int ensure_open();

    unique_fd fd_;
    std::uint32_t seq_ = 0;
    pid_t owner_ = 0;
    ino_t netns_ = 0;
    dev_t netns_dev_ = 0;
};

} // namespace cutil::platform::linux_rtnl
