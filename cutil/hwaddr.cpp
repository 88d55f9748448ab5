#include "cutil/hwaddr.hpp"

#include "cutil/iflist.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace cutil {

namespace {
char etherbuf[18];
}

const char* ether_sprintf(const std::uint8_t* addr)
{
    char* p = etherbuf;
    for (int i = 0; i < 6; ++i, p += 3)
        std::snprintf(p, 4, "%02x:", addr[i]);
    etherbuf[17] = '\0';
    return etherbuf;
}

int get_hw_addr(std::string_view ifname, std::uint8_t* dest)
{
    device_info info;
    if (get_device_info(ifname, info) == 0)
        return 0;
    constexpr std::size_t data = offsetof(bsd::sockaddr_dl, sdl_data);
    std::size_t nlen = std::to_integer<std::size_t>(info.link[offsetof(bsd::sockaddr_dl, sdl_nlen)]);
    std::size_t alen = std::to_integer<std::size_t>(info.link[offsetof(bsd::sockaddr_dl, sdl_alen)]);
    // Only the address bytes the message really holds; never bytes of the next message.
    std::size_t n = std::min({alen, std::size_t{6}, info.link_room - data - nlen});
    std::memset(dest, 0, 6);
    std::memcpy(dest, info.link + data + nlen, n);
    return 1;
}

std::string my_ether_addr(std::string_view ifname)
{
    std::uint8_t scratch[32];
    if (get_hw_addr(ifname, scratch) == 0)
        std::memset(scratch, 0, sizeof scratch);
    return ether_sprintf(scratch);
}

} // namespace cutil
