#include "platform/linux/netlink_session.hpp"

#include "platform/linux/rtnl.hpp"

#include <libmnl/libmnl.h>
#include <sys/socket.h>

#include <cerrno>
#include <vector>

namespace cutil::platform::linux_rtnl {

namespace {

// The port id the kernel gave the socket when it first sent.
std::uint32_t port_of(int fd)
{
    sockaddr_nl self{};
    socklen_t len = sizeof self;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len) == 0 ? self.nl_pid : 0;
}

// The acknowledgement of `seq` among the messages of one read: 0 when absent (read on), else
// 1 with the kernel's answer in *error.
int find_ack(std::span<const char> datagram, std::uint32_t seq, std::uint32_t port, int* error)
{
    const char* buf = datagram.data();
    int len = static_cast<int>(whole_messages(datagram));
    for (auto* nlh = reinterpret_cast<const nlmsghdr*>(buf); mnl_nlmsg_ok(nlh, len); nlh = mnl_nlmsg_next(nlh, &len)) {
        if (nlh->nlmsg_type != NLMSG_ERROR || !mnl_nlmsg_seq_ok(nlh, seq) || !mnl_nlmsg_portid_ok(nlh, port))
            continue;
        if (mnl_nlmsg_get_payload_len(nlh) < sizeof(nlmsgerr)) {
            *error = EPROTO;
            return 1;
        }
        *error = -static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(nlh))->error;
        return 1;
    }
    return 0;
}

} // namespace

int acked_request(int fd, nlmsghdr* request)
{
    request->nlmsg_flags |= NLM_F_REQUEST | NLM_F_ACK;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent = ::sendto(fd, request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    if (sent < 0)
        return errno;
    if (static_cast<std::size_t>(sent) != request->nlmsg_len)
        return EIO;
    std::uint32_t port = port_of(fd);
    std::vector<char> buf(MNL_SOCKET_BUFFER_SIZE);
    for (;;) {
        ssize_t n = receive_from_kernel(fd, buf);
        if (n < 0)
            return errno;
        int error = 0;
        if (find_ack(std::span(buf.data(), static_cast<std::size_t>(n)), request->nlmsg_seq, port, &error))
            return error;
    }
}

int netlink_session::change(nlmsghdr* request)
{
    int fd = socket_.get();
    if (fd < 0)
        return errno;
    request->nlmsg_seq = ++seq_;
    int e = acked_request(fd, request);
    // A socket that failed (its buffer overrun, say) may hold stale answers: start afresh.
    if (e == EIO || e == ENOBUFS || e == EBADF || e == ECONNREFUSED)
        socket_.drop();
    return e;
}

} // namespace cutil::platform::linux_rtnl
