// SIOCAIFADDR and SIOCDIFADDR as rtnetlink requests. The home kernel keys an interface address by
// the address alone and changes or removes that one address; Linux keys it by address and prefix,
// and removing a primary address takes the secondaries of its subnet with it (and the routes
// through them) unless promote_secondaries is set. Each request here changes exactly the named
// address: copies under another prefix go, and what Linux took along is put back as it was.
#include "platform/linux/write.hpp"

#include "platform/linux/rtnl.hpp"
#include "platform/routeread.hpp"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <cerrno>
#include <string>
#include <vector>

namespace cutil::platform::linux_write {

namespace {

constexpr std::size_t request_room = 256;

struct held {
    linux_rtnl::address entry;
    linux_rtnl::message bytes; // as the kernel listed it
};

// The interface index of a host name: ENXIO for a name the host does not have, as the home
// kernel answers for an unknown interface.
int index_of(std::string_view host_name, unsigned& index)
{
    index = host_name.empty() ? 0 : ::if_nametoindex(std::string(host_name).c_str());
    return index == 0 ? ENXIO : 0;
}

bool is_inet(const bsd::sockaddr& sa) { return sa.sa_len != 0 && sa.sa_family == bsd::af_inet; }

std::uint32_t local_of(const linux_rtnl::address& a) { return a.has_local ? a.local : a.peer; }

int addresses_of(unsigned index, std::vector<held>& out)
{
    std::vector<linux_rtnl::message> messages;
    if (int e = linux_rtnl::dump_address_messages(messages, static_cast<int>(index)))
        return e;
    out.clear();
    for (auto& m : messages)
        if (auto a = linux_rtnl::read_address(reinterpret_cast<const nlmsghdr*>(m.data())))
            out.push_back({*a, std::move(m)});
    return 0;
}

// Whether Linux drops `other` when `gone` goes: `gone` is the primary of a subnet `other` is a
// secondary of.
bool goes_along(const linux_rtnl::address& gone, const linux_rtnl::address& other)
{
    if ((gone.flags & IFA_F_SECONDARY) || !(other.flags & IFA_F_SECONDARY) || gone.prefixlen != other.prefixlen)
        return false;
    std::uint32_t mask = gone.prefixlen == 0 ? 0 : htonl(~0u << (32 - gone.prefixlen));
    return ((gone.peer ^ other.peer) & mask) == 0;
}

nlmsghdr* put_addr_request(char* buf, std::uint16_t type, std::uint16_t flags, unsigned index, int prefix)
{
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf);
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = NLM_F_REQUEST | flags;
    auto* ifa = static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifaddrmsg)));
    ifa->ifa_family = AF_INET;
    ifa->ifa_prefixlen = static_cast<std::uint8_t>(prefix);
    ifa->ifa_scope = RT_SCOPE_UNIVERSE;
    ifa->ifa_index = index;
    return nlh;
}

// Removes one copy, named by its address and prefix so that no other copy matches.
int delete_copy(linux_rtnl::netlink_session& session, unsigned index, const linux_rtnl::address& copy)
{
    alignas(nlmsghdr) char buf[request_room];
    nlmsghdr* nlh = put_addr_request(buf, RTM_DELADDR, 0, index, copy.prefixlen);
    bool put = mnl_attr_put_u32_check(nlh, sizeof buf, IFA_LOCAL, local_of(copy));
    if (put && copy.has_peer)
        put = mnl_attr_put_u32_check(nlh, sizeof buf, IFA_ADDRESS, copy.peer);
    return put ? session.change(nlh) : EMSGSIZE;
}

// Sends a message the kernel listed back as the request that makes it again; one still there
// answers EEXIST.
int put_back(linux_rtnl::netlink_session& session, linux_rtnl::message bytes, std::uint16_t type)
{
    auto* nlh = reinterpret_cast<nlmsghdr*>(bytes.data());
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_CREATE | NLM_F_EXCL;
    nlh->nlmsg_pid = 0;
    int e = session.change(nlh);
    return e == EEXIST ? 0 : e;
}

// A route Linux drops with an address and makes again by itself is the kernel's own; one whose
// preferred source is the removed address may not come back.
bool route_to_put_back(const linux_rtnl::message& bytes, std::uint32_t removed)
{
    const auto* nlh = reinterpret_cast<const nlmsghdr*>(bytes.data());
    const auto* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
    if (rtm->rtm_protocol == RTPROT_KERNEL)
        return false;
    const auto* end = static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh));
    for (auto* attr = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(nlh, sizeof *rtm));
         mnl_attr_ok(attr, static_cast<int>(end - reinterpret_cast<const char*>(attr))); attr = mnl_attr_next(attr))
        if (mnl_attr_get_type(attr) == RTA_PREFSRC && mnl_attr_get_payload_len(attr) == 4 && mnl_attr_get_u32(attr) == removed)
            return false;
    return true;
}

// Removes every copy of `addr` whose prefix is not `keep_prefix` (-1: every copy), then puts back
// the secondaries and routes Linux took with them. EADDRNOTAVAIL when there was none to remove.
int remove_copies(linux_rtnl::netlink_session& session, unsigned index, const std::vector<held>& listed,
                  std::uint32_t addr, int keep_prefix)
{
    std::vector<const held*> copies, taken;
    for (const held& h : listed)
        if (local_of(h.entry) == addr && h.entry.prefixlen != keep_prefix)
            copies.push_back(&h);
    for (const held& h : listed)
        for (const held* c : copies)
            if (local_of(h.entry) != addr && goes_along(c->entry, h.entry)) {
                taken.push_back(&h);
                break;
            }
    if (copies.empty())
        return EADDRNOTAVAIL;
    std::vector<linux_rtnl::message> routes;
    if (!taken.empty())
        if (int e = linux_rtnl::dump_route_messages(routes))
            return e;
    int first = 0;
    for (const held* c : copies)
        if (int e = delete_copy(session, index, c->entry); e != 0 && first == 0)
            first = e;
    for (const held* h : taken)
        if (int e = put_back(session, h->bytes, RTM_NEWADDR); e != 0 && first == 0)
            first = e;
    for (const auto& r : routes)
        if (route_to_put_back(r, addr))
            if (int e = put_back(session, r, RTM_NEWROUTE); e != 0 && first == 0)
                first = e;
    return first;
}

} // namespace

// SIOCAIFADDR: an address already on the interface with that netmask answers EEXIST; one held
// under another netmask takes the new one, as at home, where the address alone names it.
int add_alias(linux_rtnl::netlink_session& session, std::string_view host_name, const bsd::ifaliasreq& req)
{
    unsigned index = 0;
    if (int e = index_of(host_name, index))
        return e;
    if (!is_inet(req.ifra_addr))
        return EINVAL;
    std::uint32_t addr = bsd::inet_of(req.ifra_addr);
    int prefix = req.ifra_mask.sa_len != 0 ? bsd::mask_prefix(bsd::inet_of(req.ifra_mask)) : bsd::classful_prefix(addr);
    if (prefix < 0)
        return EINVAL;
    std::vector<held> listed;
    if (int e = addresses_of(index, listed))
        return e;
    alignas(nlmsghdr) char buf[request_room];
    nlmsghdr* nlh = put_addr_request(buf, RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL, index, prefix);
    bool put = mnl_attr_put_u32_check(nlh, sizeof buf, IFA_LOCAL, addr)
               && mnl_attr_put_u32_check(nlh, sizeof buf, IFA_ADDRESS, addr);
    if (put && is_inet(req.ifra_broadaddr))
        put = mnl_attr_put_u32_check(nlh, sizeof buf, IFA_BROADCAST, bsd::inet_of(req.ifra_broadaddr));
    if (!put)
        return EMSGSIZE;
    // The new copy first, so that the address is never missing while the old one goes.
    int added = session.change(nlh);
    if (added != 0 && added != EEXIST)
        return added;
    int removed = remove_copies(session, index, listed, addr, prefix);
    return removed == 0 || removed == EADDRNOTAVAIL ? added : removed;
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
    std::vector<held> listed;
    if (int e = addresses_of(index, listed))
        return e;
    return remove_copies(session, index, listed, bsd::inet_of(req.addr), -1);
}

} // namespace cutil::platform::linux_write
