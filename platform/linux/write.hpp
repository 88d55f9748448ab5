// The write half of the Linux backend: the FreeBSD requests the library builds, carried out
// through rtnetlink and an AF_PACKET socket. Interface names come in as the host calls them.
#pragma once

#include "platform/bsd.hpp"
#include "platform/linux/netlink_session.hpp"

#include <cstddef>
#include <span>
#include <string_view>

namespace cutil::platform::linux_write {

// SIOCAIFADDR as RTM_NEWADDR: the interface ends with one copy of the address, under the new
// netmask.
int add_alias(linux_rtnl::netlink_session& session, std::string_view host_name, const bsd::ifaliasreq& req);
// SIOCDIFADDR as RTM_DELADDR: every copy of the address goes, and nothing else stays gone.
int delete_address(linux_rtnl::netlink_session& session, std::string_view host_name, const bsd::ifreq& req);
// A routing-socket write as RTM_NEWROUTE or RTM_DELROUTE on the netlink socket `fd`.
int route_write(int fd, std::span<const std::byte> msg);

// The packet device: an AF_PACKET socket that never receives, bound to an interface.
int open_packet_socket();
int packet_version(int fd, bsd::bpf_version& version);
int packet_bind(int fd, std::string_view host_name);
int packet_write(int fd, std::span<const std::byte> frame);

// Whether ARP on the interface answers for addresses held only by the loopback (arp_ignore).
int parked_answered_on(std::string_view host_name, bool& answered);
// Whether ARP requests leaving by the interface may name such an address as sender (arp_announce).
int parked_announced_on(std::string_view host_name, bool& announced);

} // namespace cutil::platform::linux_write
