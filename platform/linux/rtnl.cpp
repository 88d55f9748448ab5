#include "platform/linux/rtnl.hpp"

#include "platform/unique_fd.hpp"

#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <new>

namespace cutil::platform::linux_rtnl {

namespace {

using handler = std::function<void(const nlmsghdr*)>;

int run_cb(const nlmsghdr* nlh, void* data)
{
    // The table changed while the kernel walked it: the answer mixes two states.
    if (nlh->nlmsg_flags & NLM_F_DUMP_INTR) {
        errno = EAGAIN;
        return MNL_CB_ERROR;
    }
    // No exception may cross libmnl's C frames.
    try {
        (*static_cast<handler*>(data))(nlh);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return MNL_CB_ERROR;
    }
    return MNL_CB_OK;
}

// One NLM_F_DUMP request of `type` whose family header is `header_len` bytes starting with the
// family byte; every answer message goes to `each`.
int dump(std::uint16_t type, std::uint8_t family, std::size_t header_len, handler each)
{
    cutil::unique_fd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd)
        return errno;
    alignas(nlmsghdr) char request[256];
    nlmsghdr* nlh = mnl_nlmsg_put_header(request);
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    nlh->nlmsg_seq = 1;
    auto* head = static_cast<std::uint8_t*>(mnl_nlmsg_put_extra_header(nlh, header_len));
    head[0] = family;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd.get(), nlh, nlh->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return errno;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t n = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        int r = mnl_cb_run(buffer.data(), static_cast<std::size_t>(n), 1, 0, run_cb, &each);
        if (r == MNL_CB_ERROR)
            return errno != 0 ? errno : EIO;
        if (r == MNL_CB_STOP)
            return 0;
    }
}

// A dump that the kernel reports as interrupted is taken again from the start, a few times.
template <typename T>
int dump_consistent(std::vector<T>& out, std::uint16_t type, std::uint8_t family, std::size_t header_len,
                    const std::function<void(const nlmsghdr*, std::vector<T>&)>& each)
{
    int e = EAGAIN;
    for (int attempt = 0; attempt < 5 && e == EAGAIN; ++attempt) {
        out.clear();
        e = dump(type, family, header_len, [&](const nlmsghdr* nlh) { each(nlh, out); });
    }
    return e;
}

int keep_attr(const nlattr* attr, void* data)
{
    auto** table = static_cast<const nlattr**>(data);
    unsigned type = mnl_attr_get_type(attr);
    if (type < 64)
        table[type] = attr;
    return MNL_CB_OK;
}

std::uint32_t attr_u32(const nlattr* attr)
{
    std::uint32_t v = 0;
    if (mnl_attr_get_payload_len(attr) >= sizeof v)
        std::memcpy(&v, mnl_attr_get_payload(attr), sizeof v);
    return v;
}

std::vector<std::uint8_t> attr_bytes(const nlattr* attr)
{
    const auto* p = static_cast<const std::uint8_t*>(mnl_attr_get_payload(attr));
    return {p, p + mnl_attr_get_payload_len(attr)};
}

} // namespace

int dump_links(std::vector<link>& out)
{
    return dump_consistent<link>(out, RTM_GETLINK, AF_UNSPEC, sizeof(ifinfomsg), [](const nlmsghdr* nlh, auto& found) {
        if (nlh->nlmsg_type != RTM_NEWLINK)
            return;
        const auto* ifi = static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(nlh));
        const nlattr* tb[64]{};
        mnl_attr_parse(nlh, sizeof *ifi, keep_attr, tb);
        link l;
        l.index = ifi->ifi_index;
        l.flags = ifi->ifi_flags;
        l.type = ifi->ifi_type;
        if (tb[IFLA_IFNAME] != nullptr)
            l.name = mnl_attr_get_str(tb[IFLA_IFNAME]);
        if (tb[IFLA_MTU] != nullptr)
            l.mtu = attr_u32(tb[IFLA_MTU]);
        if (tb[IFLA_ADDRESS] != nullptr)
            l.hw = attr_bytes(tb[IFLA_ADDRESS]);
        found.push_back(std::move(l));
    });
}

int dump_addresses(std::vector<address>& out)
{
    return dump_consistent<address>(out, RTM_GETADDR, AF_INET, sizeof(ifaddrmsg), [](const nlmsghdr* nlh, auto& found) {
        if (nlh->nlmsg_type != RTM_NEWADDR)
            return;
        const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
        if (ifa->ifa_family != AF_INET)
            return;
        const nlattr* tb[64]{};
        mnl_attr_parse(nlh, sizeof *ifa, keep_attr, tb);
        address a;
        a.index = static_cast<int>(ifa->ifa_index);
        a.prefixlen = ifa->ifa_prefixlen;
        if ((a.has_local = tb[IFA_LOCAL] != nullptr))
            a.local = attr_u32(tb[IFA_LOCAL]);
        if ((a.has_peer = tb[IFA_ADDRESS] != nullptr))
            a.peer = attr_u32(tb[IFA_ADDRESS]);
        if ((a.has_brd = tb[IFA_BROADCAST] != nullptr))
            a.brd = attr_u32(tb[IFA_BROADCAST]);
        found.push_back(a);
    });
}

int dump_neighbours(std::vector<neighbour>& out)
{
    return dump_consistent<neighbour>(out, RTM_GETNEIGH, AF_INET, sizeof(ndmsg), [](const nlmsghdr* nlh, auto& found) {
        if (nlh->nlmsg_type != RTM_NEWNEIGH)
            return;
        const auto* nd = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(nlh));
        if (nd->ndm_family != AF_INET)
            return;
        const nlattr* tb[64]{};
        mnl_attr_parse(nlh, sizeof *nd, keep_attr, tb);
        if (tb[NDA_DST] == nullptr)
            return;
        neighbour n;
        n.index = nd->ndm_ifindex;
        n.state = nd->ndm_state;
        n.dst = attr_u32(tb[NDA_DST]);
        if (tb[NDA_LLADDR] != nullptr)
            n.hw = attr_bytes(tb[NDA_LLADDR]);
        found.push_back(std::move(n));
    });
}

} // namespace cutil::platform::linux_rtnl
