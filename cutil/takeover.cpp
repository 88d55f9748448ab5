// Taking addresses over and giving them back, composed from the interface list, the address and
// route changes and the gratuitous announcement. Every step is tried whatever the one before it
// gave: the lower operations report their own failures.
#include "cutil/takeover.hpp"

#include "cutil/arpcast.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/iflist.hpp"
#include "cutil/report.hpp"

#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cutil {

namespace {

constexpr std::string_view loopback = "lo0";
constexpr const char* host_mask = "255.255.255.255";
constexpr std::size_t work_text_size = 80;

// The text as the C string the lower operations take: it ends at its first NUL, as a C caller's.
std::string c_text(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

// The one rule for an address text in every step here: four dotted decimal numbers, not
// 0.0.0.0. inet_aton would also read "192.0.2.010" (octal) or "3221226084" as some other address.
bool read_address(std::string_view text, std::uint32_t& addr)
{
    return text.find('\0') == std::string_view::npos && ::inet_pton(AF_INET, std::string(text).c_str(), &addr) == 1
        && addr != 0;
}

// 1 when the interface carries the address, 0 when it does not, is unknown, or the text is no
// address.
int address_on(std::string_view ifname, std::string_view text)
{
    std::uint32_t wanted;
    if (!read_address(text, wanted))
        return 0;
    device_info info;
    if (get_device_info(ifname, info) == 0)
        return 0;
    for (const interface_address& a : interface_addresses(info))
        if (a.addr == wanted)
            return 1;
    return 0;
}

void remove_address(std::string_view ifname, const std::string& addr)
{
    unix_ifconfig(ifname, addr.c_str(), nullptr, nullptr, 0, 1);
}

void delete_host_route(std::string_view ifname, const std::string& addr) { unix_route(ifname, addr.c_str(), 0, 1); }

// A parked address still answered by ARP on the interface it left, or named in this host's own
// ARP requests there, would be claimed back from its new owner. Said once per process; host
// settings are the administrator's to change.
void warn_if_parked_claimed(std::string_view ifname)
{
    static bool warned = false;
    // ARP is the physical interface's, whatever alias name the address had.
    std::string name(ifname.substr(0, ifname.find(':')));
    if (warned || ifname == "ERROR" || !(parked_answered_on(name) || parked_announced_on(name)))
        return;
    warned = true;
    report_warning(compose_err("addresses parked on lo0 are still claimed by ARP on %s: "
                               "set net.ipv4.conf.%s.arp_ignore=1 and arp_announce=2\n",
                               name.c_str(), name.c_str()));
}

void report_invalid(const std::string& text)
{
    std::fprintf(stderr, "invalid ipaddress (%s)\n", text.c_str());
    std::fflush(stderr);
}

} // namespace

std::string find_ip_device(std::string_view ifname, std::string_view addr)
{
    return address_on(ifname, addr) ? std::string(ifname) : "ERROR";
}

std::string find_free_device(std::string_view ifname) { return std::string(ifname); }

int do_configured_ip(std::string_view ifname, std::string_view addr) { return address_on(ifname, addr); }

bool configured_ip(std::string_view ifname, std::string_view addr)
{
    return do_configured_ip(ifname, addr) == 1 || do_configured_ip(loopback, addr) == 1;
}

int find_local_device(std::string_view addr, char* name, int no_search)
{
    std::memcpy(name, loopback.data(), loopback.size() + 1);
    return no_search ? 1 : address_on(loopback, addr);
}

void forget_local_ip(std::string_view addr)
{
    char name[bsd::ifnamsiz];
    if (find_local_device(addr, name, 0) == 0)
        return;
    std::string text = c_text(addr);
    remove_address(name, text);
    delete_host_route(name, text);
}

std::string do_take_ip(std::string_view ifname, std::string_view addr)
{
    std::string text = c_text(addr);
    std::uint32_t taken;
    if (!read_address(text, taken)) {
        report_invalid(text);
        return "FAIL";
    }
    delete_host_route(ifname, text);
    unix_ifconfig(ifname, text.c_str(), host_mask, nullptr, 0, 0);
    char name[bsd::ifnamsiz];
    if (find_local_device(text, name, 0) == 1)
        remove_address(name, text); // the loopback's host route stays
    arpcast(ifname, text.c_str(), 3);
    return "SUCCESS";
}

std::string do_release_ip(std::string_view ifname, std::string_view addr, int forget)
{
    std::string text = c_text(addr);
    std::printf("do_release_ip device %.*s IP %s forget %d\n", static_cast<int>(ifname.size()), ifname.data(),
                text.c_str(), forget);
    std::fflush(stdout);
    // Text that is no address would be queued as 255.255.255.255 and handed to the service as
    // released, while the steps below changed whatever inet_aton made of it: it changes nothing.
    std::uint32_t queued;
    if (!read_address(text, queued)) {
        report_invalid(text);
        return "FAIL";
    }
    enqueue_released(queued);
    if (ifname != "ERROR") {
        remove_address(ifname, text);
        delete_host_route(ifname, text);
    }
    if (forget != 0 || is_bad_kernel())
        forget_local_ip(text);
    else {
        unix_ifconfig(loopback, text.c_str(), host_mask, nullptr, 0, 0);
        warn_if_parked_claimed(ifname);
    }
    return "SUCCESS";
}

std::string queue_release_ip(std::string_view addr, int forget)
{
    std::string text = c_text(addr);
    std::uint32_t queued = 0;
    bool valid = read_address(text, queued);
    if (forget != 0)
        forget_local_ip(text);
    if (!valid) {
        report_invalid(text);
        vanto_exit(1);
    }
    enqueue_released(queued);
    return "SUCCESS";
}

std::string device_cleanup(std::string_view ifname)
{
    device_info info;
    if (get_device_info(ifname, info) == 0)
        return "FAIL";
    std::vector<interface_address> addresses = interface_addresses(info);
    for (std::size_t i = 1; i < addresses.size(); ++i) { // the interface keeps its first address
        if (!addresses[i].addr)
            continue;
        in_addr a{*addresses[i].addr};
        char text[work_text_size];
        std::snprintf(text, sizeof text, "%s", ::inet_ntoa(a));
        remove_address(ifname, text);
    }
    return "SUCCESS";
}

void vanto_exit(int status) { std::exit(status); }
int get_max_ips() { return 255; }
bool is_unblocked_local() { return false; }
bool check_stop_requested() { return false; }
std::vector<std::string> get_failover_ips() { return {}; }

} // namespace cutil
