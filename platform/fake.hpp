// A scripted kernel for tests: hands out the snapshots and interface facts a test crafted, so
// the library's byte walkers and searches are exercised without privileges.
#pragma once

#include "platform/backend.hpp"
#include "platform/bytes.hpp"

#include <cerrno>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>

namespace cutil::platform {

class fake_backend : public backend {
public:
    bsd::bytes iflist;            // answer to net_rt_iflist
    bsd::bytes arp;               // answer to net_rt_flags/rtf_llinfo
    int size_errno = 0;           // answered by a size query
    int read_errno = 0;           // answered by a read

    bsd::bytes conf;              // FreeBSD ifreq entries answered by SIOCGIFCONF
    bool conf_verbatim = false;   // hand `conf` out as it stands, however its entries end
    std::deque<int> conf_errnos;  // answered by the next SIOCGIFCONF calls, one each, then 0
    int conf_calls = 0;

    struct interface {
        int flags = 0;
        std::optional<std::uint32_t> addr;    // network byte order
        std::optional<std::uint32_t> netmask; // network byte order
    };
    std::map<std::string, interface> interfaces; // answered by SIOCGIFFLAGS/ADDR/NETMASK

    int icmp_errno = EPERM; // a test runs without the privilege for raw sockets
    int icmp_fd = -1;       // when set, a duplicate of it stands in for the raw socket

    // Appends one SIOCGIFCONF entry of the IPv4 family.
    void add_conf_entry(std::string_view name, std::uint32_t addr_net);
    // Appends one entry whose address is `sa_len` bytes long (a link-level entry, as BSD lists).
    void add_conf_link_entry(std::string_view name, std::uint8_t sa_len);

    int route_sysctl(std::span<const int> mib, void* buffer, std::size_t* size) override;
    int interface_conf(int sock, std::byte* buffer, int* length) override;
    int interface_flags(int sock, bsd::ifreq& req) override;
    int interface_addr(int sock, bsd::ifreq& req) override;
    int interface_netmask(int sock, bsd::ifreq& req) override;
    int open_icmp_socket() override;

private:
    const interface* find(const bsd::ifreq& req) const;
};

} // namespace cutil::platform
