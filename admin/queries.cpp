// The queries: each asks one primitive and prints its answer, or "ERROR" when it has none (the
// library's own word for that).
#include "admin/handlers.hpp"

#include "carp/carp.hpp"
#include "cping/cping.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/ifconf.hpp"
#include "cutil/iflist.hpp"
#include "platform/backend.hpp"
#include "platform/unique_fd.hpp"

#include <sys/socket.h>
#include <arpa/inet.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <optional>

namespace Vtnet {

namespace {

constexpr std::string_view no_answer = "ERROR";

// The library's answer as it stands, yes unless it is its failure word.
int answer_text(const std::string& text) { return answer(text, text != no_answer); }

std::string dotted(std::uint32_t addr)
{
    char text[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

// "ADDR netmask MASK broadcast BRD", each part where the address message carries it.
std::string address_line(const cutil::interface_address& a)
{
    std::string line = dotted(*a.addr);
    if (a.netmask)
        line += " netmask " + dotted(*a.netmask);
    if (a.broadcast)
        line += " broadcast " + dotted(*a.broadcast);
    return line;
}

} // namespace

int run_ping(const request& r)
{
    // A probe that cannot be made is no answer: "no" would tell a monitor that the peer is dead.
    if (cutil::unique_fd icmp(cutil::platform::active().open_icmp_socket()); !icmp) {
        complain(std::string("ping cannot open a raw ICMP socket (") + std::strerror(errno) + ")");
        return status_unprobed;
    }
    return cutil::unix_ping(r.operands[0]) == 0 ? answer("yes", true) : answer("no", false);
}

int run_arp(const request& r)
{
    std::string hw = cutil::get_arp(r.operands[0]);
    if (hw.size() != 6) // "ERROR" is never six bytes long
        return answer(no_answer, false);
    return answer(cutil::ether_sprintf(reinterpret_cast<const std::uint8_t*>(hw.data())), true);
}

int run_iface(const request& r) { return answer_text(cutil::get_ethernet_interface(r.operands[0])); }

int run_netmask(const request& r)
{
    if (!interface_known(r.operands[0]))
        return status_no;
    return answer_text(cutil::get_netmask(r.operands[0]));
}

int run_hwaddr(const request& r)
{
    if (!interface_known(r.operands[0]))
        return status_no;
    std::uint8_t hw[6];
    if (cutil::get_hw_addr(r.operands[0], hw) == 0)
        return answer(no_answer, false);
    return answer(cutil::ether_sprintf(hw), true);
}

int run_addrs(const request& r)
{
    if (!interface_known(r.operands[0]))
        return status_no;
    cutil::device_info info;
    if (cutil::get_device_info(r.operands[0], info) == 0)
        return answer(no_answer, false);
    for (const cutil::interface_address& a : cutil::interface_addresses(info))
        if (a.addr)
            std::printf("%s\n", address_line(a).c_str());
    std::fflush(stdout);
    return status_yes;
}

} // namespace Vtnet
