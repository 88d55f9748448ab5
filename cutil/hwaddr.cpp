#include "cutil/hwaddr.hpp"

#include "cutil/iflist.hpp"

#include <algorithm>
#include <cstring>

namespace cutil {

namespace {
char etherbuf[18];
}

const char* ether_sprintf(const std::uint8_t* addr)
{
    static constexpr char digits[] = "0123456789abcdef";
    for (int i = 0; i < 6; ++i) {
        etherbuf[3 * i] = digits[addr[i] >> 4];
        etherbuf[3 * i + 1] = digits[addr[i] & 0xf];
        etherbuf[3 * i + 2] = ':';
    }
    etherbuf[17] = '\0'; // the last colon becomes the end of the text
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
