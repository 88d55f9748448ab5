// The ARP table lookup: which hardware address the local table holds for an IPv4 address.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace cutil {

// The 6 raw bytes of the hardware address the ARP table holds for the address text, or "ERROR"
// (malformed address, unreadable table, no resolved entry).
std::string get_arp(std::string_view address);

// The hardware address of the first resolved entry for `addr` (network byte order, not 0) in
// ARP-table bytes as sysctl NET_RT_FLAGS/RTF_LLINFO delivers them. Entries still being
// resolved (no hardware address) are passed over.
std::optional<std::array<std::uint8_t, 6>> find_arp_entry(std::span<const std::byte> table, std::uint32_t addr);

} // namespace cutil
