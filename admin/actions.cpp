// The changes: each runs one primitive, prints the library's answer, and reads the kernel back
// through the library to tell whether the change took (the takeover steps answer "SUCCESS"
// whatever their lower steps gave, and report those themselves).
#include "admin/handlers.hpp"

#include "cutil/arpcast.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/iflist.hpp"
#include "cutil/takeover.hpp"

#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace Vtnet {

namespace {

constexpr std::string_view done = "SUCCESS", failed = "FAIL";
constexpr std::string_view loopback = "lo0";
constexpr std::string_view no_interface = "ERROR"; // do_release_ip: the caller found none

bool carries(std::string_view ifname, const std::string& addr) { return cutil::find_ip_device(ifname, addr) != "ERROR"; }

// The library's word when the change took; otherwise why on standard error and "FAIL" last, so
// that a script reading the last line reads the status.
int verdict(const std::string& word, bool took, const std::string& what)
{
    if (word != done)
        return answer(word, false);
    if (!took) {
        complain(what);
        return answer(failed, false);
    }
    return answer(word, true);
}

// The dotted IPv4 addresses of the interface, in the kernel's order; none when it is unknown.
std::vector<std::string> addresses_of(std::string_view ifname)
{
    std::vector<std::string> out;
    cutil::device_info info;
    if (cutil::get_device_info(ifname, info) != 1)
        return out;
    char text[INET_ADDRSTRLEN];
    for (const cutil::interface_address& a : cutil::interface_addresses(info))
        if (a.addr && ::inet_ntop(AF_INET, &*a.addr, text, sizeof text) != nullptr)
            out.emplace_back(text);
    return out;
}

// "removed ADDR from IF" for each address `before` held that the interface no longer carries.
void say_removed(const std::vector<std::string>& before, std::string_view ifname)
{
    const std::vector<std::string> after = addresses_of(ifname);
    for (const std::string& addr : before)
        if (std::find(after.begin(), after.end(), addr) == after.end())
            std::printf("removed %s from %.*s\n", addr.c_str(), static_cast<int>(ifname.size()), ifname.data());
}

// Whether any interface of this host carries the address, lo0 included.
bool held_here(const std::string& addr)
{
    std::vector<cutil::interface_entry> list;
    cutil::get_interface_list(list);
    return std::any_of(list.begin(), list.end(), [&](const cutil::interface_entry& e) { return carries(e.name, addr); });
}

// "via GATEWAY dev IF" as ip writes a route, each part where the kernel names it.
std::string route_text(const cutil::host_route_entry& route)
{
    char text[INET_ADDRSTRLEN] = "";
    const bool gateway = route.gateway != 0 && ::inet_ntop(AF_INET, &route.gateway, text, sizeof text) != nullptr;
    std::string line = gateway ? "via " + std::string(text) : "";
    if (!route.ifname.empty())
        line += (line.empty() ? "dev " : " dev ") + route.ifname;
    return line;
}

} // namespace

int run_take(const request& r)
{
    const std::string &ifname = r.operands[0], &addr = r.operands[1];
    if (!interface_known(ifname))
        return status_no;
    std::string word = cutil::do_take_ip(ifname, addr);
    if (!carries(ifname, addr))
        return verdict(word, false, addr + " is not on " + ifname);
    return verdict(word, interface_up(ifname), ifname + " is down: " + addr + " was not announced");
}

int run_release(const request& r)
{
    const std::string &ifname = r.operands[0], &addr = r.operands[1];
    if (ifname != no_interface && !interface_known(ifname))
        return status_no;
    // Parking an address this host never held would make it answer for another host's.
    if (ifname == no_interface ? !held_here(addr) : !cutil::configured_ip(ifname, addr)) {
        complain(addr + (ifname == no_interface ? " is on no interface here" : " is neither on " + ifname + " nor parked on lo0")
                 + "; nothing changed");
        return status_no;
    }
    const bool was_on = ifname != no_interface && carries(ifname, addr), was_parked = carries(loopback, addr);
    cutil::c_ip_init();
    std::string word = cutil::do_release_ip(ifname, addr, r.forget ? 1 : 0);
    for (std::string queued; !(queued = cutil::get_released()).empty();)
        std::printf("queued %s\n", queued.c_str());
    const bool off = ifname == no_interface || !carries(ifname, addr), parked = carries(loopback, addr);
    if (was_on && off)
        std::printf("removed %s from %s\n", addr.c_str(), ifname.c_str());
    if (parked && !was_parked)
        std::printf("parked %s on lo0\n", addr.c_str());
    if (was_parked && !parked)
        std::printf("removed %s from lo0\n", addr.c_str());
    if (!off)
        return verdict(word, false, addr + " is still on " + ifname);
    const bool parks = !r.forget && !cutil::is_bad_kernel();
    return verdict(word, parked == parks, addr + (parks ? " is not parked on lo0" : " is still on lo0"));
}

int run_cleanup(const request& r)
{
    const std::string& ifname = r.operands[0];
    if (ifname == loopback) { // its first address is the loopback's own; the parked follow it
        complain("cleanup leaves lo0 alone: release parked addresses one by one");
        return status_no;
    }
    if (!interface_known(ifname))
        return status_no;
    const std::vector<std::string> before = addresses_of(ifname);
    std::string word = cutil::device_cleanup(ifname);
    say_removed(before, ifname);
    return verdict(word, addresses_of(ifname).size() <= 1, ifname + " still has more than one address");
}

int run_garp(const request& r)
{
    if (!interface_known(r.operands[0]))
        return status_no;
    int sent = cutil::arpcast_sent(r.operands[0], r.operands[1].c_str(), r.count);
    return answer(sent == r.count ? done : failed, sent == r.count);
}

// The kernel answers an add with "already there" for any host route to the address, whatever
// its gateway: only the route read back tells whether it is the one asked for.
int run_route(const request& r)
{
    const bool del = r.operands[0] == "del";
    const std::string& addr = r.operands[1];
    if (cutil::unix_route("", addr.c_str(), 0, del ? 1 : 0) != 0)
        return answer(failed, false);
    cutil::host_route_entry route;
    int found = cutil::find_host_route(addr.c_str(), route);
    if (found < 0)
        return answer(failed, false);
    const bool took = del ? found == 0 : found == 1 && route.gateway == htonl(INADDR_LOOPBACK);
    const std::string stands = found == 0 ? "no route to " + addr + " stands" : "the route to " + addr + " stands " + route_text(route);
    return verdict(std::string(done), took, stands);
}

} // namespace Vtnet
