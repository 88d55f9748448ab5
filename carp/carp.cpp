#include "carp/carp.hpp"

#include "cutil/report.hpp"
#include "platform/backend.hpp"
#include "platform/bytes.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <new>

namespace cutil {

std::optional<std::array<std::uint8_t, 6>> find_arp_entry(std::span<const std::byte> table, std::uint32_t addr)
{
    if (addr == 0)
        return std::nullopt;
    constexpr std::size_t at_addr = bsd::arp_inarp_offset + offsetof(bsd::sockaddr_inarp, sin_addr);
    constexpr std::size_t at_nlen = bsd::arp_dl_offset + offsetof(bsd::sockaddr_dl, sdl_nlen);
    constexpr std::size_t at_alen = bsd::arp_dl_offset + offsetof(bsd::sockaddr_dl, sdl_alen);
    constexpr std::size_t at_data = bsd::arp_dl_offset + offsetof(bsd::sockaddr_dl, sdl_data);
    const std::byte* next = table.data();
    const std::byte* lim = next + table.size();
    while (lim - next >= 2) {
        std::size_t len = bsd::load<std::uint16_t>(next);
        if (len == 0 || len > static_cast<std::size_t>(lim - next))
            break;
        if (len >= at_data && bsd::load<std::uint32_t>(next + at_addr) == addr) {
            std::size_t nlen = std::to_integer<std::size_t>(next[at_nlen]);
            std::size_t alen = std::to_integer<std::size_t>(next[at_alen]);
            if (alen >= 6 && at_data + nlen + 6 <= len) {
                std::array<std::uint8_t, 6> hw;
                std::memcpy(hw.data(), next + at_data + nlen, hw.size());
                return hw;
            }
        }
        next += len;
    }
    return std::nullopt;
}

std::string get_arp(std::string_view address)
{
    std::string text(address);
    in_addr_t addr = ::inet_addr(text.c_str());
    if (addr == INADDR_NONE || address.find('\0') != std::string_view::npos) {
        report_untimed(compose_err("get_arp: called with bad IP address %s\n", text.c_str()));
        return "ERROR";
    }
    // The ARP table as sysctl NET_RT_FLAGS/RTF_LLINFO hands it out, asked for the entries of this
    // address only: the walk below is the same, the kernel need not copy the whole table.
    platform::backend& kernel = platform::active();
    std::size_t needed = 0;
    if (kernel.arp_sysctl(addr, nullptr, &needed) != 0) {
        report_untimed(compose_err("get_arp: unable to open mib database\n"));
        return "ERROR";
    }
    bsd::bytes table;
    try {
        table.resize(needed == 0 ? 1 : needed);
    } catch (const std::bad_alloc&) {
        report_untimed(compose_err("get_arp: malloc failed\n"));
        return "ERROR";
    }
    if (kernel.arp_sysctl(addr, table.data(), &needed) != 0) {
        report_untimed(compose_err("get_arp: failed to retrive ARP info\n"));
        return "ERROR";
    }
    auto hw = find_arp_entry(std::span(table).first(std::min(needed, table.size())), addr);
    if (!hw)
        return "ERROR";
    return std::string(reinterpret_cast<const char*>(hw->data()), hw->size());
}

} // namespace cutil
