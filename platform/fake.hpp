// A scripted kernel for tests: hands out the snapshots and interface facts a test crafted, so
// the library's byte walkers and searches are exercised without privileges; and keeps one
// ordered log of every request of the write half, so a test sees what was changed, and in
// which order, byte for byte.
#pragma once

#include "platform/backend.hpp"
#include "platform/bytes.hpp"

#include <cerrno>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

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

    // The write half. Every call appends one entry to `writes`, in call order, with the errno it
    // answered. Each kind of call answers the next errno queued for it in `errnos` (0 when its
    // queue is empty); opens that succeed hand out a descriptor of /dev/null.
    enum class call { add_alias, delete_addr, set_flags, route_open, route_write,
                      packet_open, packet_version, packet_bind, packet_write };
    struct write_entry {
        call what;
        std::string name;  // the interface named; for packet_write the one the device is bound to
        int device = -1;   // packet_open: the device number
        bsd::bytes data;   // the ifaliasreq, ifreq, routing message or frame as handed over
        int answer = 0;    // the errno answered, 0 for success
        // One line: "alias va 203.0.113.9/255.255.255.255", "delete va 203.0.113.9",
        // "flags va 0x0003", "route open", "route add 203.0.113.9 via 127.0.0.1",
        // "route delete 203.0.113.9", "packet open 2", "packet version", "packet bind va",
        // "packet frame va 203.0.113.9"; a failure ends in " -> EEXIST" (the errno's name).
        std::string summary() const;
    };
    std::vector<write_entry> writes;
    std::map<call, std::deque<int>> errnos;
    std::set<int> busy_devices;             // packet device numbers whose open answers EBUSY
    bsd::bpf_version version{1, 1};         // answered by BIOCVERSION
    std::set<std::string> parked_answered;  // interfaces where ARP answers for parked addresses
    std::set<std::string> parked_announced; // interfaces whose ARP requests may name them as sender

    // The summaries of `writes`, in order.
    std::vector<std::string> summaries() const;

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

    int interface_add_alias(int sock, const bsd::ifaliasreq& req) override;
    int interface_delete_addr(int sock, const bsd::ifreq& req) override;
    int interface_set_flags(int sock, const bsd::ifreq& req) override;
    int open_route_socket() override;
    int route_write(int fd, std::span<const std::byte> msg) override;
    int open_packet_device(int n) override;
    int packet_version(int fd, bsd::bpf_version& v) override;
    int packet_bind(int fd, const bsd::ifreq& req) override;
    int packet_write(int fd, std::span<const std::byte> frame) override;
    int parked_answered_on(std::string_view ifname, bool& answered) override;
    int parked_announced_on(std::string_view ifname, bool& announced) override;

private:
    const interface* find(const bsd::ifreq& req) const;
    // Logs the call and answers its scripted errno.
    int record(write_entry entry);
    // A descriptor for a device or socket that opened, or -1 with errno set to `answer`.
    static int descriptor(int answer);

    std::map<int, std::string> bound_; // packet device descriptor -> interface bound to
};

} // namespace cutil::platform
