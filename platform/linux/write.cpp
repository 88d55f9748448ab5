// Routing-socket writes as rtnetlink route requests.
#include "platform/linux/write.hpp"

#include "platform/routeread.hpp"

#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>

#include <cerrno>

namespace cutil::platform::linux_write {

namespace {

constexpr std::size_t request_room = 256;

nlmsghdr* put_header(char* buf, std::uint16_t type, std::uint16_t flags)
{
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = NLM_F_REQUEST | flags;
    return nlh;
}

} // namespace

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
