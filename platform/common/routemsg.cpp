#include "platform/routemsg.hpp"

#include <algorithm>

namespace cutil::bsd {

static void pad4(bytes& out) { out.resize((out.size() + 3) & ~std::size_t{3}); }

static void set_msglen(bytes& out, std::size_t start)
{
    auto len = static_cast<std::uint16_t>(out.size() - start);
    std::memcpy(out.data() + start, &len, sizeof len);
}

void put_sockaddr_in(bytes& out, std::uint32_t addr_net, std::uint8_t length)
{
    sockaddr_in sa{};
    sa.sin_len = length;
    sa.sin_family = af_inet;
    sa.sin_addr = addr_net;
    append(out, sa, length);
    pad4(out);
}

void put_ifreq_addr(ifreq& req, std::uint32_t addr_net)
{
    sockaddr_in sin{};
    sin.sin_len = sizeof sin;
    sin.sin_family = af_inet;
    sin.sin_addr = addr_net;
    std::memcpy(&req.addr, &sin, sizeof sin);
}

void put_sockaddr_dl(bytes& out, std::uint16_t index, std::uint8_t type, std::string_view name,
                     std::span<const std::uint8_t> hw)
{
    std::size_t nlen = std::min(name.size(), sizeof(sockaddr_dl::sdl_data));
    std::size_t alen = std::min(hw.size(), sizeof(sockaddr_dl::sdl_data) - nlen);
    std::size_t len = sdl_length(nlen, alen);
    sockaddr_dl sdl{};
    sdl.sdl_len = static_cast<std::uint8_t>(len);
    sdl.sdl_family = af_link;
    sdl.sdl_index = index;
    sdl.sdl_type = type;
    sdl.sdl_nlen = static_cast<std::uint8_t>(nlen);
    sdl.sdl_alen = static_cast<std::uint8_t>(alen);
    std::copy_n(name.data(), nlen, sdl.sdl_data);
    std::copy_n(hw.data(), alen, reinterpret_cast<std::uint8_t*>(sdl.sdl_data) + nlen);
    append(out, sdl, len);
}

void put_if_msg(bytes& out, const link_facts& link)
{
    std::size_t start = out.size();
    if_msghdr ifm{};
    ifm.ifm_version = rtm_version;
    ifm.ifm_type = rtm_ifinfo;
    ifm.ifm_addrs = rta_ifp;
    ifm.ifm_flags = link.flags;
    ifm.ifm_index = link.index;
    ifm.ifm_data.ifi_type = link.type;
    ifm.ifm_data.ifi_addrlen = static_cast<std::uint8_t>(link.hw.size());
    ifm.ifm_data.ifi_hdrlen = link.type == ift_ether ? 14 : 0;
    ifm.ifm_data.ifi_link_state = link.running ? 2 : 1; // LINK_STATE_UP : LINK_STATE_DOWN
    ifm.ifm_data.ifi_datalen = sizeof(if_data);
    ifm.ifm_data.ifi_mtu = link.mtu;
    append(out, ifm);
    put_sockaddr_dl(out, link.index, link.type, link.name, link.hw);
    set_msglen(out, start);
}

void put_ifa_msg(bytes& out, const address_facts& address)
{
    std::size_t start = out.size();
    ifa_msghdr ifam{};
    ifam.ifam_version = rtm_version;
    ifam.ifam_type = rtm_newaddr;
    ifam.ifam_addrs = (address.has_netmask ? rta_netmask : 0) | rta_ifa | (address.has_brd ? rta_brd : 0);
    ifam.ifam_flags = rtf_up;
    ifam.ifam_index = address.index;
    append(out, ifam);
    if (address.has_netmask)
        put_sockaddr_in(out, address.netmask, 8);
    put_sockaddr_in(out, address.addr);
    if (address.has_brd)
        put_sockaddr_in(out, address.brd);
    set_msglen(out, start);
}

void put_arp_entry(bytes& out, const neighbour_facts& neighbour)
{
    std::size_t start = out.size();
    rt_msghdr rtm{};
    rtm.rtm_version = rtm_version;
    rtm.rtm_type = rtm_get;
    rtm.rtm_index = neighbour.index;
    rtm.rtm_flags = rtf_up | rtf_host | rtf_llinfo | (neighbour.permanent ? rtf_static : 0);
    rtm.rtm_addrs = rta_dst | rta_gateway;
    append(out, rtm);
    sockaddr_inarp sin{};
    sin.sin_len = sizeof sin;
    sin.sin_family = af_inet;
    sin.sin_addr = neighbour.addr;
    append(out, sin);
    put_sockaddr_dl(out, neighbour.index, ift_ether, neighbour.ifname, neighbour.hw);
    set_msglen(out, start);
}

} // namespace cutil::bsd
