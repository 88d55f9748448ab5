#include "cutil/arpframe.hpp"

#include <arpa/inet.h>

#include <cstring>

namespace cutil {

namespace {

constexpr std::uint16_t ethertype_arp = 0x0806;
constexpr std::uint16_t ethertype_ipv4 = 0x0800;
constexpr std::uint16_t arphrd_ether = 1;
constexpr std::uint16_t arpop_request = 1;

} // namespace

arp_frame build_arp_announcement(const std::uint8_t (&hw)[6], std::uint32_t addr)
{
    ether_header eh{};
    std::memset(eh.ether_dhost, 0xff, sizeof eh.ether_dhost);
    std::memcpy(eh.ether_shost, hw, sizeof hw);
    eh.ether_type = htons(ethertype_arp);
    ether_arp arp{};
    arp.ar_hrd = htons(arphrd_ether);
    arp.ar_pro = htons(ethertype_ipv4);
    arp.ar_hln = sizeof arp.arp_sha;
    arp.ar_pln = sizeof arp.arp_spa;
    arp.ar_op = htons(arpop_request);
    std::memcpy(arp.arp_sha, hw, sizeof hw);
    std::memcpy(arp.arp_spa, &addr, sizeof addr);
    std::memcpy(arp.arp_tha, hw, sizeof hw);
    std::memcpy(arp.arp_tpa, &addr, sizeof addr);
    arp_frame frame;
    std::memcpy(frame.data(), &eh, sizeof eh);
    std::memcpy(frame.data() + sizeof eh, &arp, sizeof arp);
    return frame;
}

} // namespace cutil
