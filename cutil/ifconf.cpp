#include "cutil/ifconf.hpp"

#include "cutil/report.hpp"
#include "platform/unique_fd.hpp"
#include "platform/backend.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace cutil {

char real_ethernet_interface[real_text_size];
char real_ip_address[real_text_size];

namespace {

char ifn[100];

// A name the 16-byte name field holds with its terminator, and nothing it would have to cut.
bool fits_name_field(std::string_view name)
{
    return !name.empty() && name.size() < bsd::ifnamsiz && name.find('\0') == std::string_view::npos;
}

} // namespace

std::size_t ifreq_entry_size(const std::byte* entry)
{
    std::size_t sa_len = std::to_integer<std::size_t>(entry[bsd::ifnamsiz]);
    return bsd::ifnamsiz + std::max(sa_len, sizeof(bsd::sockaddr));
}

int is_desired_interface(int sock, bsd::ifreq& entry, std::uint32_t addr)
{
    if (std::memchr(entry.name, ':', strnlen(entry.name, bsd::ifnamsiz)) != nullptr)
        return 0;
    platform::backend& kernel = platform::active();
    if (kernel.interface_flags(sock, entry) != 0)
        return 0;
    constexpr int wanted = bsd::iff_up | bsd::iff_broadcast;
    if ((entry.flags[0] & (wanted | bsd::iff_loopback | bsd::iff_pointopoint)) != wanted)
        return 0;
    if (kernel.interface_addr(sock, entry) != 0)
        return 0;
    bsd::sockaddr_in sin;
    std::memcpy(&sin, &entry.addr, sizeof sin);
    return sin.sin_addr == addr ? 1 : 0;
}

int do_siocgifconf(int sock, ifconf_buffer& ifc)
{
    constexpr int limit = 10 * 1024 * 1024;
    int previous = 0;
    for (int size = 1024; size < limit; size *= 2) {
        try {
            ifc.buf.resize(static_cast<std::size_t>(size));
        } catch (const std::bad_alloc&) {
            return 0;
        }
        ifc.len = size;
        int e = platform::active().interface_conf(sock, ifc.buf.data(), &ifc.len);
        if (e == 0) {
            ifc.len = std::clamp(ifc.len, 0, size);
            if (ifc.len == previous)
                return 1;
            previous = ifc.len;
        } else if (e != EINVAL) {
            errno = e;
            report_perror("ioctl SIOCGIFCONF");
            return 0;
        }
    }
    return 0;
}

const char* find_interface(std::uint32_t addr)
{
    unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock) {
        report_perror("socket");
        return nullptr;
    }
    ifconf_buffer ifc;
    if (do_siocgifconf(sock.get(), ifc) == 0)
        return nullptr;
    // Entries are as long as their address needs (link-level ones run past 16 bytes).
    const std::byte* lim = ifc.buf.data() + ifc.len;
    for (const std::byte* at = ifc.buf.data(); lim - at >= static_cast<std::ptrdiff_t>(sizeof(bsd::ifreq));) {
        std::size_t step = ifreq_entry_size(at);
        if (step > static_cast<std::size_t>(lim - at))
            break;
        bsd::ifreq entry = bsd::load<bsd::ifreq>(at);
        if (is_desired_interface(sock.get(), entry, addr) == 1) {
            std::size_t n = strnlen(entry.name, bsd::ifnamsiz);
            std::memcpy(ifn, entry.name, n);
            ifn[n] = '\0';
            return ifn;
        }
        at += step;
    }
    return nullptr;
}

std::string get_ethernet_interface(std::string_view address)
{
    // An address text the 30-byte record cannot hold is refused like a malformed one.
    if (address.size() >= real_text_size || address.find('\0') != std::string_view::npos)
        return "ERROR";
    std::string text(address);
    const char* name = find_interface(::inet_addr(text.c_str()));
    if (name == nullptr)
        return "ERROR";
    std::string found(name);
    std::memcpy(real_ethernet_interface, found.c_str(), found.size() + 1);
    std::memcpy(real_ip_address, text.c_str(), text.size() + 1);
    return found;
}

std::string get_local_interface() { return "lo0"; }

std::string get_netmask(std::string_view ifname)
{
    unique_fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock) {
        report_error("could not open socket\n");
        return "ERROR";
    }
    bsd::ifreq req{};
    if (!fits_name_field(ifname)) {
        report_error("could not read netmask\n");
        return "ERROR";
    }
    std::memcpy(req.name, ifname.data(), ifname.size());
    if (platform::active().interface_netmask(sock.get(), req) != 0) {
        report_error("could not read netmask\n");
        return "ERROR";
    }
    bsd::sockaddr_in sin;
    std::memcpy(&sin, &req.addr, sizeof sin);
    std::uint32_t mask = ntohl(sin.sin_addr);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", mask >> 24, (mask >> 16) & 0xff, (mask >> 8) & 0xff, mask & 0xff);
    return text;
}

} // namespace cutil
