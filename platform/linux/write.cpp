#include "platform/linux/write.hpp"

#include "platform/routeread.hpp"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <cerrno>
#include <string>

namespace cutil::platform::linux_write {

namespace {

constexpr std::size_t request_room = 256;

// The interface index of a host name: ENXIO for a name the host does not have, as the home
// kernel answers for an unknown interface.
int index_of(std::string_view host_name, unsigned& index)
{
    index = host_name.empty() ? 0 : ::if_nametoindex(std::string(host_name).c_str());
    return index == 0 ? ENXIO : 0;
}

bool is_inet(const bsd::sockaddr& sa) { return sa.sa_len != 0 && sa.sa_family == bsd::af_inet; }

// The netmask the home kernel gives an address added without one: that of its address class.
int classful_prefix(std::uint32_t addr_net)
{
    std::uint32_t a = ntohl(addr_net);
    return (a >> 31) == 0 ? 8 : (a >> 30) == 2 ? 16 : 24;
}

nlmsghdr* put_header(char* buf, std::uint16_t type, std::uint16_t flags)
{
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = NLM_F_REQUEST | flags;
    return nlh;
}

// The request for one IPv4 address of the interface.
nlmsghdr* put_addr_request(char* buf, std::uint16_t type, std::uint16_t flags, unsigned index, int prefix)
{
    nlmsghdr* nlh = put_header(buf, type, flags);
    auto* ifa = static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifaddrmsg)));
    ifa->ifa_family = AF_INET;
    ifa->ifa_prefixlen = static_cast<std::uint8_t>(prefix);
    ifa->ifa_scope = RT_SCOPE_UNIVERSE;
    ifa->ifa_index = index;
    return nlh;
}

} // namespace

// SIOCAIFADDR: an address already on the interface answers EEXIST, as at home.
int add_alias(linux_rtnl::netlink_session& session, std::string_view host_name, const bsd::ifaliasreq& req)
{
    unsigned index = 0;
    if (int e = index_of(host_name, index))
        return e;
    if (!is_inet(req.ifra_addr))
        return EINVAL;
    std::uint32_t addr = bsd::inet_of(req.ifra_addr);
    int prefix = req.ifra_mask.sa_len != 0 ? bsd::mask_prefix(bsd::inet_of(req.ifra_mask)) : classful_prefix(addr);
    if (prefix < 0)
        return EINVAL;
    alignas(nlmsghdr) char buf[request_room];
    nlmsghdr* nlh = put_addr_request(buf, RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL, index, prefix);
    bool put = mnl_attr_put_u32_check(nlh, sizeof buf, IFA_LOCAL, addr)
               && mnl_attr_put_u32_check(nlh, sizeof buf, IFA_ADDRESS, addr);
    if (put && is_inet(req.ifra_broadaddr))
        put = mnl_attr_put_u32_check(nlh, sizeof buf, IFA_BROADCAST, bsd::inet_of(req.ifra_broadaddr));
    return put ? session.change(nlh) : EMSGSIZE;
}

// SIOCDIFADDR: the address alone names what goes, whatever its mask; a missing one answers
// EADDRNOTAVAIL, as at home.
int delete_address(linux_rtnl::netlink_session& session, std::string_view host_name, const bsd::ifreq& req)
{
    unsigned index = 0;
    if (int e = index_of(host_name, index))
        return e;
    if (!is_inet(req.addr))
        return EADDRNOTAVAIL;
    alignas(nlmsghdr) char buf[request_room];
    nlmsghdr* nlh = put_addr_request(buf, RTM_DELADDR, 0, index, 0);
    if (!mnl_attr_put_u32_check(nlh, sizeof buf, IFA_LOCAL, bsd::inet_of(req.addr)))
        return EMSGSIZE;
    return session.change(nlh);
}

// RTM_ADD and RTM_DELETE of the routing socket: an existing route answers EEXIST, a missing one
// ESRCH, as at home. Routes live in the main table.
int route_write(int fd, std::span<const std::byte> msg)
{
    bsd::route_request route;
    if (int e = bsd::read_route_request(msg, route))
        return e;
    bool add = route.type == bsd::rtm_add;
    alignas(nlmsghdr) char buf[request_room];
    nlmsghdr* nlh = put_header(buf, add ? RTM_NEWROUTE : RTM_DELROUTE, add ? NLM_F_CREATE | NLM_F_EXCL : 0);
    nlh->nlmsg_seq = static_cast<std::uint32_t>(route.seq);
    auto* rtm = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(rtmsg)));
    rtm->rtm_family = AF_INET;
    rtm->rtm_dst_len = route.prefixlen;
    rtm->rtm_table = RT_TABLE_MAIN;
    if (add) {
        rtm->rtm_protocol = (route.flags & bsd::rtf_static) ? RTPROT_STATIC : RTPROT_BOOT;
        rtm->rtm_scope = RT_SCOPE_UNIVERSE;
        rtm->rtm_type = RTN_UNICAST;
    } else {
        rtm->rtm_scope = RT_SCOPE_NOWHERE; // any scope, or an existing route may not match
    }
    bool put = mnl_attr_put_u32_check(nlh, sizeof buf, RTA_DST, route.dst);
    if (put && add)
        put = mnl_attr_put_u32_check(nlh, sizeof buf, RTA_GATEWAY, *route.gateway);
    return put ? linux_rtnl::acked_request(fd, nlh) : EMSGSIZE;
}

} // namespace cutil::platform::linux_write
