// The write half of the scripted kernel: an ordered log of requests and scripted answers.
#include "platform/fake.hpp"
#include "platform/routeread.hpp"

#include <arpa/inet.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cutil::platform {

namespace {

std::string name_of(const char (&field)[bsd::ifnamsiz]) { return std::string(field, strnlen(field, sizeof field)); }

template <class T> bsd::bytes bytes_of(const T& value)
{
    bsd::bytes out;
    bsd::append(out, value);
    return out;
}

// The symbolic name of the error numbers a kernel answers these requests with.
std::string errno_name(int e)
{
    static const std::pair<int, const char*> names[] = {
        {EPERM, "EPERM"}, {ENOENT, "ENOENT"}, {ESRCH, "ESRCH"}, {EIO, "EIO"}, {ENXIO, "ENXIO"},
        {EACCES, "EACCES"}, {EBUSY, "EBUSY"}, {EEXIST, "EEXIST"}, {ENODEV, "ENODEV"}, {EINVAL, "EINVAL"},
        {EOPNOTSUPP, "EOPNOTSUPP"}, {EPROTONOSUPPORT, "EPROTONOSUPPORT"}, {EAFNOSUPPORT, "EAFNOSUPPORT"},
        {EADDRNOTAVAIL, "EADDRNOTAVAIL"}, {ENETUNREACH, "ENETUNREACH"}, {ENOBUFS, "ENOBUFS"}};
    for (const auto& [number, name] : names)
        if (number == e)
            return name;
    return "errno " + std::to_string(e);
}

std::string dotted(std::uint32_t addr_net) { return inet_ntoa(in_addr{addr_net}); }

std::string alias_text(const bsd::ifaliasreq& req)
{
    std::string text = dotted(bsd::inet_of(req.ifra_addr));
    if (req.ifra_mask.sa_len != 0)
        text += "/" + dotted(bsd::inet_of(req.ifra_mask));
    if (req.ifra_broadaddr.sa_len != 0)
        text += " brd " + dotted(bsd::inet_of(req.ifra_broadaddr));
    return text;
}

std::string route_text(std::span<const std::byte> msg)
{
    bsd::route_request r;
    if (int e = bsd::read_route_request(msg, r))
        return "unreadable (" + errno_name(e) + ")";
    std::string text = (r.type == bsd::rtm_add ? "add " : "delete ") + dotted(r.dst);
    if (r.prefixlen != 32)
        text += "/" + std::to_string(r.prefixlen);
    return r.gateway ? text + " via " + dotted(*r.gateway) : text;
}

std::string frame_text(const bsd::bytes& frame)
{
    constexpr std::size_t target_addr = 38;
    if (frame.size() < target_addr + 4)
        return std::to_string(frame.size()) + " bytes";
    return dotted(bsd::load<std::uint32_t>(frame.data() + target_addr));
}

} // namespace

std::string fake_backend::write_entry::summary() const
{
    std::string text;
    switch (what) {
    case call::add_alias: text = "alias " + name + " " + alias_text(bsd::load<bsd::ifaliasreq>(data.data())); break;
    case call::delete_addr:
        text = "delete " + name + " " + dotted(bsd::inet_of(bsd::load<bsd::ifreq>(data.data()).addr));
        break;
    case call::set_flags: {
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%04x", static_cast<unsigned>(bsd::load<bsd::ifreq>(data.data()).flags[0]) & 0xffff);
        text = "flags " + name + " " + flags;
        break;
    }
    case call::route_open: text = "route open"; break;
    case call::route_write: text = "route " + route_text(data); break;
    case call::packet_open: text = "packet open " + std::to_string(device); break;
    case call::packet_version: text = "packet version"; break;
    case call::packet_bind: text = "packet bind " + name; break;
    case call::packet_write: text = "packet frame " + name + " " + frame_text(data); break;
    }
    return answer == 0 ? text : text + " -> " + errno_name(answer);
}

std::vector<std::string> fake_backend::summaries() const
{
    std::vector<std::string> out;
    for (const auto& w : writes)
        out.push_back(w.summary());
    return out;
}

int fake_backend::record(write_entry entry)
{
    auto& queue = errnos[entry.what];
    if (entry.answer == 0 && !queue.empty()) {
        entry.answer = queue.front();
        queue.pop_front();
    }
    writes.push_back(std::move(entry));
    return writes.back().answer;
}

int fake_backend::descriptor(int answer)
{
    if (answer != 0) {
        errno = answer;
        return -1;
    }
    return ::open("/dev/null", O_RDWR | O_CLOEXEC);
}

int fake_backend::interface_add_alias(int, const bsd::ifaliasreq& req)
{
    return record({call::add_alias, name_of(req.ifra_name), -1, bytes_of(req)});
}

int fake_backend::interface_delete_addr(int, const bsd::ifreq& req)
{
    return record({call::delete_addr, name_of(req.name), -1, bytes_of(req)});
}

int fake_backend::interface_set_flags(int, const bsd::ifreq& req)
{
    std::string name = name_of(req.name);
    int e = record({call::set_flags, name, -1, bytes_of(req), interfaces.count(name) ? 0 : ENXIO});
    if (e == 0)
        interfaces[name].flags = req.flags[0];
    return e;
}

int fake_backend::open_route_socket() { return descriptor(record({call::route_open})); }

int fake_backend::route_write(int, std::span<const std::byte> msg)
{
    return record({call::route_write, "", -1, bsd::bytes(msg.begin(), msg.end())});
}

int fake_backend::open_packet_device(int n)
{
    int fd = descriptor(record({call::packet_open, "", n, {}, busy_devices.count(n) ? EBUSY : 0}));
    if (fd >= 0)
        bound_[fd].clear();
    return fd;
}

int fake_backend::packet_version(int, bsd::bpf_version& v)
{
    int e = record({call::packet_version});
    if (e == 0)
        v = version;
    return e;
}

int fake_backend::packet_bind(int fd, const bsd::ifreq& req)
{
    std::string name = name_of(req.name);
    int e = record({call::packet_bind, name, -1, bytes_of(req)});
    if (e == 0)
        bound_[fd] = name;
    return e;
}

int fake_backend::packet_write(int fd, std::span<const std::byte> frame)
{
    return record({call::packet_write, bound_[fd], -1, bsd::bytes(frame.begin(), frame.end())});
}

int fake_backend::parked_answered_on(std::string_view ifname, bool& answered)
{
    answered = parked_answered.count(std::string(ifname)) != 0;
    return 0;
}

int fake_backend::parked_announced_on(std::string_view ifname, bool& announced)
{
    announced = parked_announced.count(std::string(ifname)) != 0;
    return 0;
}

} // namespace cutil::platform
