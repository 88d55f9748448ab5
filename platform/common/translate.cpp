#include "platform/translate.hpp"

#include <algorithm>
#include <cstdint>

namespace cutil::bsd {

namespace {

enum class kind { route, address, interface, other };

kind kind_of(std::uint8_t type)
{
    if (type >= rtm_add && type < rtm_newaddr)
        return kind::route; // RTM_ADD to RTM_RESOLVE: an rt_msghdr
    if (type == rtm_newaddr || type == rtm_deladdr)
        return kind::address;
    return type == rtm_ifinfo ? kind::interface : kind::other;
}

std::size_t header_size(kind k, const route_layout& l)
{
    switch (k) {
    case kind::route: return l.rt_msghdr;
    case kind::address: return l.ifa_msghdr;
    case kind::interface: return l.if_msghdr;
    default: return 4;
    }
}

// An unsigned field of 1, 2, 4 or 8 bytes, in the host's order as the kernel writes it.
std::uint64_t get_field(const std::byte* at, std::size_t size)
{
    switch (size) {
    case 1: return std::to_integer<std::uint8_t>(*at);
    case 2: return load<std::uint16_t>(at);
    case 4: return load<std::uint32_t>(at);
    default: return load<std::uint64_t>(at);
    }
}

// Cut to the field's width: a 64-bit kernel's metrics and times fit the library's 32 bits.
void put_field(std::byte* at, std::size_t size, std::uint64_t value)
{
    const auto v16 = static_cast<std::uint16_t>(value);
    const auto v32 = static_cast<std::uint32_t>(value);
    switch (size) {
    case 1: *at = std::byte(value); break;
    case 2: std::memcpy(at, &v16, sizeof v16); break;
    case 4: std::memcpy(at, &v32, sizeof v32); break;
    default: std::memcpy(at, &value, sizeof value); break;
    }
}

std::size_t metric_count(const route_layout& l) { return (l.rt_msghdr - l.rtm_rmx) / l.rmx_field; }

void route_header(const std::byte* in, std::byte* out, const route_layout& from,
                  const route_layout& to)
{
    std::memcpy(out, in, std::min(from.rtm_inits, to.rtm_inits));
    put_field(out + to.rtm_inits, to.rmx_field, get_field(in + from.rtm_inits, from.rmx_field));
    for (std::size_t i = 0; i < std::min(metric_count(from), metric_count(to)); ++i) {
        const auto value = get_field(in + from.rtm_rmx + i * from.rmx_field, from.rmx_field);
        put_field(out + to.rtm_rmx + i * to.rmx_field, to.rmx_field, value);
    }
}

void interface_header(const std::byte* in, std::byte* out, const route_layout& from,
                      const route_layout& to)
{
    std::memcpy(out, in, std::min(from.ifm_data, to.ifm_data));
    const std::byte* data_in = in + from.ifm_data;
    std::byte* data_out = out + to.ifm_data;
    std::memcpy(data_out, data_in, if_data_common);
    put_field(data_out + to.ifi_datalen, to.ifi_datalen_size, to.if_data);
    std::memcpy(data_out + to.ifi_mtu, data_in + from.ifi_mtu, sizeof(std::uint32_t));
}

// The header of `msg` (at least header_size(k, from) bytes) appended in the layout `to`.
void header(kind k, std::span<const std::byte> msg, const route_layout& from,
            const route_layout& to, bytes& out)
{
    const std::size_t start = out.size(), size = header_size(k, to);
    out.resize(start + size);
    if (from == to || k == kind::address)
        std::memcpy(out.data() + start, msg.data(), std::min(size, header_size(k, from)));
    else if (k == kind::route)
        route_header(msg.data(), out.data() + start, from, to);
    else
        interface_header(msg.data(), out.data() + start, from, to);
}

int addresses_of(kind k, std::span<const std::byte> msg)
{
    const std::size_t at = k == kind::route ? offsetof(rt_msghdr, rtm_addrs)
                                            : offsetof(if_msghdr, ifm_addrs);
    return load<std::int32_t>(msg.data() + at);
}

// The socket addresses the mask names, each rounded anew; false when one runs past `rest`.
bool addresses(std::span<const std::byte> rest, int addrs, std::size_t from_word,
               std::size_t to_word, bytes& out)
{
    for (int i = 0; i < rtax_max; ++i) {
        if ((addrs & (1 << i)) == 0)
            continue;
        if (rest.empty())
            return false;
        const auto len = std::to_integer<std::uint8_t>(rest[0]);
        const std::size_t room = sa_room(len, from_word);
        if (room > rest.size())
            return false;
        const std::size_t at = out.size();
        out.insert(out.end(), rest.begin(), rest.begin() + len);
        out.resize(at + sa_room(len, to_word));
        rest = rest.subspan(room);
    }
    return true;
}

bool message(std::span<const std::byte> msg, const route_layout& from, const route_layout& to,
             bytes& out)
{
    const kind k = kind_of(std::to_integer<std::uint8_t>(msg[3]));
    if (k == kind::other) {
        out.insert(out.end(), msg.begin(), msg.end());
        return true;
    }
    const std::size_t from_header = header_size(k, from), start = out.size();
    if (msg.size() < from_header)
        return false;
    header(k, msg, from, to, out);
    if (!addresses(msg.subspan(from_header), addresses_of(k, msg), from.word, to.word, out)) {
        out.resize(start);
        return false;
    }
    // A header and at most eight addresses of at most 256 bytes: the length fits.
    const auto len = static_cast<std::uint16_t>(out.size() - start);
    std::memcpy(out.data() + start, &len, sizeof len);
    return true;
}

} // namespace

bytes translate_messages(std::span<const std::byte> in, const route_layout& from,
                         const route_layout& to)
{
    bytes out;
    while (in.size() >= 4) {
        const std::size_t len = load<std::uint16_t>(in.data());
        if (len < 4 || len > in.size() || !message(in.first(len), from, to, out))
            break;
        in = in.subspan(len);
    }
    return out;
}

} // namespace cutil::bsd
