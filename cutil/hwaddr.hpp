// Hardware (Ethernet) addresses of the host's own interfaces, and their text form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cutil {

// Six bytes as "xx:xx:xx:xx:xx:xx", held in a module buffer until the next call.
const char* ether_sprintf(const std::uint8_t* addr);
// 1 with the interface's 6-byte hardware address copied to `dest`, 0 when there is no such
// interface or the list is unreadable. An address shorter than 6 bytes is completed with zeros.
int get_hw_addr(std::string_view ifname, std::uint8_t* dest);
// The interface's hardware address text, or 00:00:00:00:00:00.
std::string my_ether_addr(std::string_view ifname);

} // namespace cutil
