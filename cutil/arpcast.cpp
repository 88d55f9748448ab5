#include "cutil/arpcast.hpp"

#include "cutil/arpframe.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/namefield.hpp"
#include "cutil/report.hpp"
#include "platform/backend.hpp"

#include <netinet/in.h>
#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

namespace cutil {

bsd::bpf_version bv;
bool bpf_first_time = true;

namespace {

constexpr int packet_devices = 16;
constexpr std::size_t name_work_area = 100;
constexpr bsd::bpf_version required{1, 1};

// Reports a failure of initdevice and leaves its reason in errno for the caller's report.
unique_fd refuse(int reason, std::string_view message)
{
    report_error(message);
    errno = reason;
    return {};
}

unique_fd open_first_device(platform::backend& kernel)
{
    for (int n = 0; n < packet_devices; ++n) {
        unique_fd dev(kernel.open_packet_device(n));
        if (dev)
            return dev;
        report_perror("open");
    }
    return {};
}

// The version check: the filter must write whole frames as version 1.1 does.
int check_version(platform::backend& kernel, int fd)
{
    if (int e = kernel.packet_version(fd, bv)) {
        refuse(e, compose_err("initdevice: BIOCVERSION: %s\n", std::strerror(e)));
        return e;
    }
    if (bv.bv_major != required.bv_major || bv.bv_minor < required.bv_minor) {
        refuse(EPROTONOSUPPORT, compose_err("initdevice: kernel bpf (v%d.%d) filter out of date. current version: %d.%d\n",
                                            bv.bv_major, bv.bv_minor, required.bv_major, required.bv_minor));
        return EPROTONOSUPPORT;
    }
    bpf_first_time = false;
    return 0;
}

} // namespace

unique_fd initdevice(std::string_view ifname)
{
    platform::backend& kernel = platform::active();
    unique_fd dev = open_first_device(kernel);
    if (!dev)
        return refuse(errno, "initdevice: no bpf devices available as /dev/bpfxx\n");
    if (bpf_first_time && check_version(kernel, dev.get()) != 0)
        return {};
    bsd::ifreq req{};
    // A name the field cannot hold names no interface: the kernel's answer for an unknown one.
    int e = fill_name_field(req.name, ifname) ? kernel.packet_bind(dev.get(), req) : ENXIO;
    if (e != 0)
        return refuse(e, compose_err("initdevice on %.*s(%d): BIOCSETIF: %s\n", static_cast<int>(ifname.size()),
                                     ifname.data(), dev.get(), std::strerror(e)));
    return dev;
}

void arpcast(std::string_view ifname, const char* addr, int count) { arpcast_sent(ifname, addr, count); }

int arpcast_sent(std::string_view ifname, const char* addr, int count)
{
    // The physical name is worked on in a 100-byte area: a longer name is refused, not cut.
    if (ifname.size() >= name_work_area || ifname.find('\0') != std::string_view::npos) {
        errno = ENAMETOOLONG;
        report_perror("ERR::arpcast:Couldn't open device");
        return -1;
    }
    std::string phys(ifname.substr(0, ifname.find(':')));
    in_addr_t ip = addr != nullptr ? ::inet_addr(addr) : INADDR_NONE;
    if (ip == INADDR_NONE) {
        report_error(compose_err("arpcast: invalid ip address: %s\n", addr != nullptr ? addr : "(null)"));
        return -1;
    }
    unique_fd dev = initdevice(phys);
    if (!dev) {
        report_perror("ERR::arpcast:Couldn't open device");
        return -1;
    }
    std::uint8_t hw[6]{};
    if (get_hw_addr(phys, hw) == 0)
        std::memset(hw, 0, sizeof hw);
    arp_frame frame = build_arp_announcement(hw, ip);
    debug_print(std::string("[ ") + addr + " -> " + ether_sprintf(hw) + " ]\n");
    int sent = 0;
    for (int i = 0; i < count; ++i) {
        if (int e = platform::active().packet_write(dev.get(), frame)) {
            std::string text = "ERR::arpcast: bad write to device " + phys + " ip " + addr + "\n";
            errno = e;
            report_perror(text.c_str());
        } else {
            ++sent;
        }
    }
    return sent;
}

} // namespace cutil
