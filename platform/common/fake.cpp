#include "platform/fake.hpp"

#include <algorithm>
#include <cstring>

#include <fcntl.h>

namespace cutil::platform {

void fake_backend::add_conf_entry(std::string_view name, std::uint32_t addr_net)
{
    bsd::ifreq req{};
    std::copy_n(name.data(), std::min(name.size(), bsd::ifnamsiz), req.name);
    bsd::sockaddr_in sin{};
    sin.sin_len = sizeof sin;
    sin.sin_family = bsd::af_inet;
    sin.sin_addr = addr_net;
    std::memcpy(&req.addr, &sin, sizeof sin);
    bsd::append(conf, req);
}

void fake_backend::add_conf_link_entry(std::string_view name, std::uint8_t sa_len)
{
    char field[bsd::ifnamsiz]{};
    std::copy_n(name.data(), std::min(name.size(), bsd::ifnamsiz), field);
    bsd::append(conf, field);
    std::size_t start = conf.size();
    conf.resize(start + std::max<std::size_t>(sa_len, sizeof(bsd::sockaddr)));
    conf[start] = std::byte{sa_len};
    conf[start + 1] = std::byte{bsd::af_link};
}

int fake_backend::route_sysctl(std::span<const int> mib, void* buffer, std::size_t* size)
{
    const bsd::bytes* answer = nullptr;
    if (mib.size() == 6 && mib[4] == bsd::net_rt_iflist)
        answer = &iflist;
    else if (mib.size() == 6 && mib[4] == bsd::net_rt_flags)
        answer = &arp;
    else
        return EINVAL;
    if (buffer == nullptr) {
        if (size_errno != 0)
            return size_errno;
        *size = answer->size();
        return 0;
    }
    if (read_errno != 0)
        return read_errno;
    if (*size < answer->size())
        return ENOMEM;
    if (!answer->empty())
        std::memcpy(buffer, answer->data(), answer->size());
    *size = answer->size();
    return 0;
}

int fake_backend::interface_conf(int, std::byte* buffer, int* length)
{
    ++conf_calls;
    if (!conf_errnos.empty()) {
        int e = conf_errnos.front();
        conf_errnos.pop_front();
        if (e != 0)
            return e;
    }
    if (conf_verbatim) {
        std::size_t n = std::min(conf.size(), static_cast<std::size_t>(*length));
        if (n != 0)
            std::memcpy(buffer, conf.data(), n);
        *length = static_cast<int>(n);
        return 0;
    }
    // As the kernel does: whole entries while they fit, the answer's length is what was used.
    std::size_t used = 0;
    while (used + bsd::ifnamsiz < conf.size()) {
        std::size_t sa_len = std::to_integer<std::size_t>(conf[used + bsd::ifnamsiz]);
        std::size_t entry = bsd::ifnamsiz + std::max(sa_len, sizeof(bsd::sockaddr));
        if (used + entry > static_cast<std::size_t>(*length) || used + entry > conf.size())
            break;
        used += entry;
    }
    if (used != 0)
        std::memcpy(buffer, conf.data(), used);
    *length = static_cast<int>(used);
    return 0;
}

const fake_backend::interface* fake_backend::find(const bsd::ifreq& req) const
{
    std::string name(req.name, strnlen(req.name, bsd::ifnamsiz));
    auto it = interfaces.find(name);
    return it == interfaces.end() ? nullptr : &it->second;
}

static void put_addr(bsd::ifreq& req, std::uint32_t addr_net)
{
    bsd::sockaddr_in sin{};
    sin.sin_len = sizeof sin;
    sin.sin_family = bsd::af_inet;
    sin.sin_addr = addr_net;
    std::memcpy(&req.addr, &sin, sizeof sin);
}

int fake_backend::interface_flags(int, bsd::ifreq& req)
{
    const interface* i = find(req);
    if (i == nullptr)
        return ENXIO;
    req.flags[0] = static_cast<std::int16_t>(i->flags);
    req.flags[1] = 0;
    return 0;
}

int fake_backend::interface_addr(int, bsd::ifreq& req)
{
    const interface* i = find(req);
    if (i == nullptr)
        return ENXIO;
    if (!i->addr)
        return EADDRNOTAVAIL;
    put_addr(req, *i->addr);
    return 0;
}

int fake_backend::interface_netmask(int, bsd::ifreq& req)
{
    const interface* i = find(req);
    if (i == nullptr)
        return ENXIO;
    if (!i->netmask)
        return EADDRNOTAVAIL;
    put_addr(req, *i->netmask);
    return 0;
}

int fake_backend::open_icmp_socket()
{
    if (icmp_fd >= 0)
        return ::fcntl(icmp_fd, F_DUPFD_CLOEXEC, 0);
    errno = icmp_errno;
    return -1;
}

} // namespace cutil::platform
