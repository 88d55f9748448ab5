// The gratuitous ARP announcement: an Ethernet II header and an ARP request for IPv4 over
// Ethernet in which the sender announces its own address, 42 bytes, no padding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace cutil {

struct ether_header {
    std::uint8_t ether_dhost[6];
    std::uint8_t ether_shost[6];
    std::uint16_t ether_type; // network byte order
};

// The header fields are named ar_*: the system's <netinet/if_ether.h> makes arp_hrd and its
// siblings macros.
struct ether_arp {
    std::uint16_t ar_hrd, ar_pro; // network byte order
    std::uint8_t ar_hln, ar_pln;
    std::uint16_t ar_op;          // network byte order
    std::uint8_t arp_sha[6], arp_spa[4], arp_tha[6], arp_tpa[4];
};

static_assert(sizeof(ether_header) == 14 && offsetof(ether_header, ether_type) == 12);
static_assert(sizeof(ether_arp) == 28 && offsetof(ether_arp, ar_op) == 6 && offsetof(ether_arp, arp_sha) == 8
              && offsetof(ether_arp, arp_spa) == 14 && offsetof(ether_arp, arp_tha) == 18
              && offsetof(ether_arp, arp_tpa) == 24);

inline constexpr std::size_t arp_frame_size = sizeof(ether_header) + sizeof(ether_arp);
using arp_frame = std::array<std::byte, arp_frame_size>;

// The broadcast announcement of `addr` (network byte order) by the hardware address `hw`, which
// also stands as the target hardware address.
arp_frame build_arp_announcement(const std::uint8_t (&hw)[6], std::uint32_t addr);

} // namespace cutil
