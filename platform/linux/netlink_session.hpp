// Changes carried out through rtnetlink, each acknowledged: the kernel's own error number for
// every request, never a request sent without reading its answer.
#pragma once

#include "platform/linux/kept_socket.hpp"

#include <linux/netlink.h>

#include <cstdint>

namespace cutil::platform::linux_rtnl {

// Sends the request on the netlink socket `fd` with NLM_F_ACK added and reads up to its
// acknowledgement (answers for other sequence numbers are passed over): 0, or the errno the
// kernel answered.
int acked_request(int fd, nlmsghdr* request);

// One netlink socket kept for a run of changes, with its own sequence numbers.
class netlink_session {
public:
    // Carries out one change request: 0, or the errno the kernel or the socket answered.
    int change(nlmsghdr* request);

private:
    kept_socket socket_{AF_NETLINK, SOCK_RAW, NETLINK_ROUTE};
    std::uint32_t seq_ = 0;
};

} // namespace cutil::platform::linux_rtnl
