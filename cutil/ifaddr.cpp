#include "cutil/ifaddr.hpp"

#include "cutil/namefield.hpp"
#include "cutil/report.hpp"
#include "platform/backend.hpp"
#include "platform/unique_fd.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace cutil {

namespace {

const char* shown(const char* text) { return text != nullptr ? text : "(null)"; }

// Converts one given text into its slot of the alias request; false (reported) when malformed.
bool put_inet(bsd::sockaddr& slot, const char* text, const char* format)
{
    if (text == nullptr)
        return true;
    bsd::sockaddr_in sin{};
    sin.sin_len = sizeof sin;
    sin.sin_family = bsd::af_inet;
    in_addr converted{};
    if (::inet_aton(text, &converted) == 0) {
        // The product reports the system's text for errno here, not the rejected text.
        report_error(compose_err(format, std::strerror(errno)));
        return false;
    }
    sin.sin_addr = converted.s_addr;
    std::memcpy(&slot, &sin, sizeof sin);
    return true;
}

// SIOCDIFADDR takes the address of the alias request in an interface request.
int delete_address(int sock, const bsd::ifaliasreq& alias)
{
    bsd::ifreq req{};
    std::memcpy(req.name, alias.ifra_name, sizeof req.name);
    req.addr = alias.ifra_addr;
    return platform::active().interface_delete_addr(sock, req);
}

// Reads the flags, changes them, writes them back.
int change_flags(int sock, std::string_view ifname, std::uint16_t bits, bool set)
{
    bsd::ifreq req{};
    if (!fill_name_field(req.name, ifname))
        return -1;
    platform::backend& kernel = platform::active();
    if (kernel.interface_flags(sock, req) != 0)
        return -1;
    req.flags[0] = static_cast<std::int16_t>(set ? req.flags[0] | bits : req.flags[0] & ~bits);
    int e = kernel.interface_set_flags(sock, req);
    if (e == 0)
        return 0;
    report_error(compose_err(set ? "SIOCSIFFLAGS set %04x on %.*s: %s\n" : "SIOCSIFFLAGS clear %04x on %.*s: %s\n",
                             bits, static_cast<int>(ifname.size()), ifname.data(), std::strerror(e)));
    return 1;
}

} // namespace

int unix_ifconfig(std::string_view ifname, const char* addr, const char* netmask, const char* broadcast, int, int remove)
{
    unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock) {
        report_error(compose_err("Could not open socket: %s\n", std::strerror(errno)));
        return -1;
    }
    bsd::ifaliasreq req{};
    // Every argument is examined, so that each malformed one is reported.
    bool good = put_inet(req.ifra_addr, addr, "unix_ifconfig was called with bad IP: %s\n");
    good = put_inet(req.ifra_mask, netmask, "unix_ifconfig was called with bad netmask: %s\n") && good;
    good = put_inet(req.ifra_broadaddr, broadcast, "unix_ifconfig was called with bad broadcast address: %s\n") && good;
    if (!good)
        return 1;
    // A name the field cannot hold names no interface: the kernel's answer for an unknown one.
    int e = !fill_name_field(req.ifra_name, ifname) ? ENXIO
          : remove ? delete_address(sock.get(), req)
                   : platform::active().interface_add_alias(sock.get(), req);
    if (e == 0 || (!remove && e == EEXIST)) // an address already there counts as added
        return 0;
    report_error(compose_err(remove ? "SIOCSIFADDR on %.*s (%s): %s\n" : "SIOCSIFADDR on %.*s (%s) : %s\n",
                             static_cast<int>(ifname.size()), ifname.data(), shown(addr), std::strerror(e)));
    return 1;
}

bool is_bad_kernel() { return false; }

int get_flags(int sock, std::string_view ifname)
{
    bsd::ifreq req{};
    if (!fill_name_field(req.name, ifname) || platform::active().interface_flags(sock, req) != 0)
        return -1;
    return req.flags[0];
}

int set_flag(int sock, std::string_view ifname, std::uint16_t bits) { return change_flags(sock, ifname, bits, true); }

int clr_flag(int sock, std::string_view ifname, std::uint16_t bits) { return change_flags(sock, ifname, bits, false); }

bool parked_answered_on(std::string_view ifname)
{
    bool answered = false;
    return platform::active().parked_answered_on(ifname, answered) == 0 && answered;
}

bool parked_announced_on(std::string_view ifname)
{
    bool announced = false;
    return platform::active().parked_announced_on(ifname, announced) == 0 && announced;
}

} // namespace cutil
