#include "platform/linux/rtnl.hpp"

#include "platform/unique_fd.hpp"

#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <new>
#include <optional>

namespace cutil::platform::linux_rtnl {

namespace {

using handler = std::function<void(const nlmsghdr*)>;

// How long a dump that keeps coming back interrupted is taken again. A takeover changes
// addresses while the service reads them; a few quick tries are not enough under that churn.
constexpr std::chrono::seconds dump_patience{2};

int run_cb(const nlmsghdr* nlh, void* data)
{
    // The table changed while the kernel walked it: the answer mixes two states (older libmnl
    // lets such a message through).
    if (nlh->nlmsg_flags & NLM_F_DUMP_INTR) {
        errno = EAGAIN;
        return MNL_CB_ERROR;
    }
    // No exception may cross libmnl's C frames.
    try {
        (*static_cast<const handler*>(data))(nlh);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return MNL_CB_ERROR;
    }
    return MNL_CB_OK;
}

// A route netlink socket; `strict` makes the kernel check requests and filter dumps by their header.
int open_route_socket(bool strict, cutil::unique_fd& fd)
{
    fd = cutil::unique_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd)
        return errno;
    int on = 1;
    if (strict && ::setsockopt(fd.get(), SOL_NETLINK, NETLINK_GET_STRICT_CHK, &on, sizeof on) < 0)
        return errno;
    return 0;
}

int send_to_kernel(int fd, const void* data, std::size_t length)
{
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, data, length, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return errno;
    return 0;
}

// One NLM_F_DUMP request of `type` with the family header `header`; every answer message goes
// to `each`.
int dump(std::uint16_t type, const void* header, std::size_t header_len, bool strict, const handler& each)
{
    cutil::unique_fd fd;
    if (int e = open_route_socket(strict, fd))
        return e;
    alignas(nlmsghdr) char request[256];
    nlmsghdr* nlh = mnl_nlmsg_put_header(request);
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    nlh->nlmsg_seq = 1;
    std::memcpy(mnl_nlmsg_put_extra_header(nlh, header_len), header, header_len);
    if (int e = send_to_kernel(fd.get(), nlh, nlh->nlmsg_len))
        return e;
    std::vector<char> buffer(1 << 16);
    for (bool done = false; !done;) {
        ssize_t n = receive_from_kernel(fd.get(), buffer);
        if (n < 0)
            return errno;
        if (int e = read_dump_datagram(std::span(buffer.data(), static_cast<std::size_t>(n)), each, done))
            return e;
    }
    return 0;
}

// A dump that the kernel reports as interrupted is taken again from the start until one comes
// whole or the patience runs out.
template <typename T, typename Header>
int dump_consistent(std::vector<T>& out, std::uint16_t type, const Header& header, bool strict,
                    const std::function<std::optional<T>(const nlmsghdr*)>& read)
{
    auto deadline = std::chrono::steady_clock::now() + dump_patience;
    for (;;) {
        out.clear();
        int e = dump(type, &header, sizeof header, strict, [&](const nlmsghdr* nlh) {
            if (std::optional<T> entry = read(nlh))
                out.push_back(std::move(*entry));
        });
        if (e != EAGAIN || std::chrono::steady_clock::now() >= deadline)
            return e;
    }
}

// The family header after the netlink header, or null when the message is too short to hold it.
template <typename Header>
const Header* family_header(const nlmsghdr* nlh, std::uint16_t type)
{
    if (nlh->nlmsg_type != type || mnl_nlmsg_get_payload_len(nlh) < sizeof(Header))
        return nullptr;
    return static_cast<const Header*>(mnl_nlmsg_get_payload(nlh));
}

// The attributes of one message by type, in a table sized for the family (X_MAX + 1); a type the
// table cannot hold is one this code never reads, and is passed over.
template <std::size_t Max> struct attr_table {
    const nlattr* at[Max + 1]{};
    const nlattr* operator[](std::size_t type) const { return at[type]; }
};

template <std::size_t Max> int keep_attr(const nlattr* attr, void* data)
{
    auto& table = *static_cast<attr_table<Max>*>(data);
    if (mnl_attr_type_valid(attr, Max) > 0)
        table.at[mnl_attr_get_type(attr)] = attr;
    return MNL_CB_OK;
}

template <std::size_t Max> attr_table<Max> parse_attrs(const nlmsghdr* nlh, std::size_t header)
{
    attr_table<Max> table;
    mnl_attr_parse(nlh, static_cast<unsigned>(header), keep_attr<Max>, &table);
    return table;
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

// A string attribute, read no further than its payload.
std::string attr_str(const nlattr* attr)
{
    const auto* p = static_cast<const char*>(mnl_attr_get_payload(attr));
    return {p, strnlen(p, mnl_attr_get_payload_len(attr))};
}

// Sends one RTM_GETNEIGH for `dst` per interface of `indexes` in a single datagram, their
// sequence numbers 1, 2, ...; answers the entries found, in the order asked.
int get_neighbour_batch(int fd, std::uint32_t dst, std::span<const int> indexes, std::vector<neighbour>& out)
{
    constexpr std::size_t request_len = MNL_ALIGN(sizeof(nlmsghdr)) + MNL_ALIGN(sizeof(ndmsg)) + MNL_ALIGN(MNL_ATTR_HDRLEN + 4);
    std::vector<char> requests(indexes.size() * request_len);
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        nlmsghdr* nlh = mnl_nlmsg_put_header(requests.data() + i * request_len);
        nlh->nlmsg_type = RTM_GETNEIGH;
        nlh->nlmsg_flags = NLM_F_REQUEST;
        nlh->nlmsg_seq = static_cast<std::uint32_t>(i + 1);
        auto* nd = static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ndmsg)));
        nd->ndm_family = AF_INET;
        nd->ndm_ifindex = indexes[i];
        mnl_attr_put_u32(nlh, NDA_DST, dst);
    }
    if (int e = send_to_kernel(fd, requests.data(), requests.size()))
        return e;
    // Each request has exactly one answer: the entry, or an error (ENOENT: none there).
    std::vector<std::optional<neighbour>> found(indexes.size());
    std::vector<char> buffer(8192);
    for (std::size_t answered = 0; answered < indexes.size();) {
        ssize_t n = receive_from_kernel(fd, buffer);
        if (n < 0)
            return errno;
        int left = static_cast<int>(whole_messages(std::span(buffer.data(), static_cast<std::size_t>(n))));
        for (auto* nlh = reinterpret_cast<const nlmsghdr*>(buffer.data()); mnl_nlmsg_ok(nlh, left);
             nlh = mnl_nlmsg_next(nlh, &left)) {
            std::size_t slot = nlh->nlmsg_seq - 1;
            if (slot >= indexes.size())
                continue;
            ++answered;
            if (nlh->nlmsg_type == NLMSG_ERROR) {
                const auto* err = family_header<nlmsgerr>(nlh, NLMSG_ERROR);
                if (err == nullptr)
                    return EPROTO;
                // ENOENT: no entry there; ENODEV: the interface went away meanwhile.
                if (err->error != -ENOENT && err->error != -ENODEV && err->error != 0)
                    return -err->error;
            } else {
                found[slot] = read_neighbour(nlh);
            }
        }
    }
    for (auto& f : found)
        if (f)
            out.push_back(std::move(*f));
    return 0;
}

} // namespace

std::size_t whole_messages(std::span<const char> datagram)
{
    std::size_t at = 0;
    while (datagram.size() - at >= sizeof(nlmsghdr)) {
        std::uint32_t len;
        std::memcpy(&len, datagram.data() + at + offsetof(nlmsghdr, nlmsg_len), sizeof len);
        if (len < sizeof(nlmsghdr) || len > datagram.size() - at)
            break;
        at += std::min<std::size_t>(NLMSG_ALIGN(len), datagram.size() - at);
    }
    return at;
}

ssize_t receive_from_kernel(int fd, std::vector<char>& buffer)
{
    for (;;) {
        sockaddr_nl from{};
        socklen_t fromlen = sizeof from;
        ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromlen);
        if (n < 0 && errno == EINTR)
            continue;
        if (n >= 0 && from.nl_pid != 0)
            continue; // another process's datagram, not the kernel's answer
        return n;
    }
}

int read_dump_datagram(std::span<const char> datagram, const std::function<void(const nlmsghdr*)>& each, bool& done)
{
    errno = 0;
    int r = mnl_cb_run(datagram.data(), whole_messages(datagram), 1, 0, run_cb, const_cast<handler*>(&each));
    done = r == MNL_CB_STOP;
    if (r != MNL_CB_ERROR)
        return 0;
    // libmnl itself answers an interrupted dump with EINTR before the callback sees it.
    return errno == EINTR ? EAGAIN : errno != 0 ? errno : EIO;
}

std::optional<link> read_link(const nlmsghdr* nlh)
{
    const auto* ifi = family_header<ifinfomsg>(nlh, RTM_NEWLINK);
    if (ifi == nullptr)
        return std::nullopt;
    const auto tb = parse_attrs<IFLA_MAX>(nlh, sizeof *ifi);
    link l;
    l.index = ifi->ifi_index;
    l.flags = ifi->ifi_flags;
    l.type = ifi->ifi_type;
    if (tb[IFLA_IFNAME] != nullptr)
        l.name = attr_str(tb[IFLA_IFNAME]);
    if (tb[IFLA_MTU] != nullptr)
        l.mtu = attr_u32(tb[IFLA_MTU]);
    if (tb[IFLA_ADDRESS] != nullptr)
        l.hw = attr_bytes(tb[IFLA_ADDRESS]);
    return l;
}

std::optional<address> read_address(const nlmsghdr* nlh)
{
    const auto* ifa = family_header<ifaddrmsg>(nlh, RTM_NEWADDR);
    if (ifa == nullptr || ifa->ifa_family != AF_INET)
        return std::nullopt;
    const auto tb = parse_attrs<IFA_MAX>(nlh, sizeof *ifa);
    address a;
    a.index = static_cast<int>(ifa->ifa_index);
    a.prefixlen = ifa->ifa_prefixlen;
    if ((a.has_local = tb[IFA_LOCAL] != nullptr))
        a.local = attr_u32(tb[IFA_LOCAL]);
    if ((a.has_peer = tb[IFA_ADDRESS] != nullptr))
        a.peer = attr_u32(tb[IFA_ADDRESS]);
    if ((a.has_brd = tb[IFA_BROADCAST] != nullptr))
        a.brd = attr_u32(tb[IFA_BROADCAST]);
    if (tb[IFA_LABEL] != nullptr)
        a.label = attr_str(tb[IFA_LABEL]);
    a.flags = tb[IFA_FLAGS] != nullptr ? attr_u32(tb[IFA_FLAGS]) : ifa->ifa_flags;
    return a;
}

std::optional<neighbour> read_neighbour(const nlmsghdr* nlh)
{
    const auto* nd = family_header<ndmsg>(nlh, RTM_NEWNEIGH);
    if (nd == nullptr || nd->ndm_family != AF_INET)
        return std::nullopt;
    const auto tb = parse_attrs<NDA_MAX>(nlh, sizeof *nd);
    if (tb[NDA_DST] == nullptr)
        return std::nullopt;
    neighbour n;
    n.index = nd->ndm_ifindex;
    n.state = nd->ndm_state;
    n.type = nd->ndm_type;
    n.dst = attr_u32(tb[NDA_DST]);
    if (tb[NDA_LLADDR] != nullptr)
        n.hw = attr_bytes(tb[NDA_LLADDR]);
    return n;
}

std::optional<route> read_route(const nlmsghdr* nlh)
{
    const auto* rt = family_header<rtmsg>(nlh, RTM_NEWROUTE);
    if (rt == nullptr || rt->rtm_family != AF_INET || rt->rtm_type != RTN_UNICAST)
        return std::nullopt;
    const auto tb = parse_attrs<RTA_MAX>(nlh, sizeof *rt);
    const std::uint32_t table = tb[RTA_TABLE] != nullptr ? attr_u32(tb[RTA_TABLE]) : rt->rtm_table;
    if (table != RT_TABLE_MAIN)
        return std::nullopt;
    route r;
    r.dst_len = rt->rtm_dst_len;
    r.dst = tb[RTA_DST] != nullptr ? attr_u32(tb[RTA_DST]) : 0;
    r.gateway = tb[RTA_GATEWAY] != nullptr ? attr_u32(tb[RTA_GATEWAY]) : 0;
    r.oif = tb[RTA_OIF] != nullptr ? static_cast<int>(attr_u32(tb[RTA_OIF])) : 0;
    return r;
}

int dump_links(std::vector<link>& out)
{
    ifinfomsg header{};
    header.ifi_family = AF_UNSPEC;
    return dump_consistent<link>(out, RTM_GETLINK, header, false, read_link);
}

int dump_addresses(std::vector<address>& out, int index)
{
    ifaddrmsg header{};
    header.ifa_family = AF_INET;
    header.ifa_index = static_cast<std::uint32_t>(index);
    return dump_consistent<address>(out, RTM_GETADDR, header, index != 0, [index](const nlmsghdr* nlh) {
        std::optional<address> a = read_address(nlh);
        return a && (index == 0 || a->index == index) ? a : std::nullopt;
    });
}

namespace {

// The kernel's message as it sent it, to be sent back as a request.
message copy_of(const nlmsghdr* nlh)
{
    const auto* bytes = reinterpret_cast<const char*>(nlh);
    return message(bytes, bytes + nlh->nlmsg_len);
}

} // namespace

int dump_address_messages(std::vector<message>& out, int index)
{
    ifaddrmsg header{};
    header.ifa_family = AF_INET;
    header.ifa_index = static_cast<std::uint32_t>(index);
    return dump_consistent<message>(out, RTM_GETADDR, header, true, [index](const nlmsghdr* nlh) -> std::optional<message> {
        std::optional<address> a = read_address(nlh);
        if (!a || a->index != index)
            return std::nullopt;
        return copy_of(nlh);
    });
}

int dump_route_messages(std::vector<message>& out)
{
    rtmsg header{};
    header.rtm_family = AF_INET;
    return dump_consistent<message>(out, RTM_GETROUTE, header, false, [](const nlmsghdr* nlh) -> std::optional<message> {
        if (family_header<rtmsg>(nlh, RTM_NEWROUTE) == nullptr)
            return std::nullopt;
        return copy_of(nlh);
    });
}

int dump_neighbours(std::vector<neighbour>& out)
{
    ndmsg header{};
    header.ndm_family = AF_INET;
    return dump_consistent<neighbour>(out, RTM_GETNEIGH, header, false, read_neighbour);
}

int get_neighbours(std::uint32_t dst, std::span<const int> indexes, std::vector<neighbour>& out)
{
    out.clear();
    cutil::unique_fd fd;
    if (int e = open_route_socket(false, fd))
        return e;
    // In batches whose answers the socket's receive queue holds at once.
    constexpr std::size_t batch = 32;
    for (std::size_t at = 0; at < indexes.size(); at += batch)
        if (int e = get_neighbour_batch(fd.get(), dst, indexes.subspan(at, std::min(batch, indexes.size() - at)), out))
            return e;
    return 0;
}

int dump_routes(std::vector<route>& out)
{
    rtmsg header{};
    header.rtm_family = AF_INET;
    return dump_consistent<route>(out, RTM_GETROUTE, header, false, read_route);
}

} // namespace cutil::platform::linux_rtnl
