// check: what would stop the primitives on this host, one line a finding. The probe needs a raw
// ICMP socket, an announcement the packet device; and on a kernel that answers ARP for, or asks
// ARP with, an address parked on lo0, a given-back address would still be claimed by this host.
#include "admin/handlers.hpp"

#include "cutil/arpcast.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/iflist.hpp"
#include "platform/backend.hpp"
#include "platform/bsd.hpp"
#include "platform/ifname.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace Vtnet {

namespace {

using findings = std::vector<std::string>;

constexpr std::string_view linux_loopback = "lo";

std::string reason(int err) { return std::string(" (") + std::strerror(err) + ")"; }

// Without CAP_NET_RAW neither the probe nor an announcement can be made: one line says so,
// instead of every packet device refusing in turn.
bool check_privilege(findings& out)
{
    std::string missing = missing_privileges(needs_raw);
    if (!missing.empty())
        out.push_back("no " + missing + ": ping cannot probe and take and garp announce nothing");
    return missing.empty();
}

void check_raw_socket(findings& out)
{
    cutil::unique_fd icmp(cutil::platform::active().open_icmp_socket());
    if (!icmp) {
        int err = errno;
        out.push_back("no raw ICMP socket" + reason(err) + ": ping answers no for every address");
    }
}

void check_packet_device(const std::string& ifname, findings& out)
{
    cutil::unique_fd dev = cutil::initdevice(ifname);
    if (!dev) {
        int err = errno;
        out.push_back("no packet device on " + ifname + reason(err) + ": take and garp announce nothing");
    }
}

void check_link(const std::string& ifname, findings& out)
{
    if (!interface_up(ifname))
        out.push_back(ifname + " is down: take and garp announce nothing on it");
}

// The settings are named as the Linux kernel knows them, by the host's name of the interface.
void check_parking(const std::string& ifname, findings& out)
{
    const std::string key = "net.ipv4.conf." + cutil::platform::host_ifname(ifname, linux_loopback);
    if (cutil::parked_answered_on(ifname))
        out.push_back(ifname + " answers ARP for addresses parked on lo0: set " + key + ".arp_ignore=1");
    if (cutil::parked_announced_on(ifname))
        out.push_back(ifname + " may ask ARP from addresses parked on lo0: set " + key + ".arp_announce=2");
}

// The interfaces an address may be taken over on: broadcast, neither loopback nor point-to-point.
bool broadcast_interfaces(std::vector<std::string>& names, findings& out)
{
    std::vector<cutil::interface_entry> list;
    if (!cutil::get_interface_list(list)) {
        out.push_back("the interface list cannot be read");
        return false;
    }
    constexpr int kind = cutil::bsd::iff_broadcast | cutil::bsd::iff_loopback | cutil::bsd::iff_pointopoint;
    for (const cutil::interface_entry& e : list)
        if ((e.flags & kind) == cutil::bsd::iff_broadcast)
            names.push_back(e.name);
    if (names.empty())
        out.push_back("no broadcast interface to take addresses over on");
    return !names.empty();
}

} // namespace

int run_check(const request& r)
{
    std::vector<std::string> names;
    if (!r.operands.empty() && !interface_known(r.operands[0]))
        return status_no;
    findings found;
    const bool privileged = check_privilege(found);
    if (privileged)
        check_raw_socket(found);
    if (!r.operands.empty())
        names.push_back(r.operands[0]);
    if ((!names.empty() || broadcast_interfaces(names, found)) && privileged && interface_up(names.front()))
        check_packet_device(names.front(), found);
    for (const std::string& ifname : names) {
        check_link(ifname, found);
        if (ifname != cutil::platform::product_loopback) // the loopback carries no ARP
            check_parking(ifname, found);
    }
    for (const std::string& line : found)
        std::printf("%s\n", line.c_str());
    return answer(found.empty() ? "SUCCESS" : "FAIL", found.empty());
}

} // namespace Vtnet
