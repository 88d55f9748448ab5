// The FreeBSD backend: the kernel already speaks the structures of platform/bsd.hpp, so each
// operation passes straight through to the real call.
#include "platform/backend.hpp"

#include <sys/types.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/sysctl.h>
#include <net/bpf.h>
#include <net/if.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cutil::platform {

namespace {

class freebsd_backend final : public backend {
public:
    int route_sysctl(std::span<const int> mib, void* buffer, std::size_t* size) override
    {
        return ::sysctl(mib.data(), static_cast<u_int>(mib.size()), buffer, size, nullptr, 0) < 0 ? errno : 0;
    }
    int interface_conf(int sock, std::byte* buffer, int* length) override
    {
        ::ifconf ifc{};
        ifc.ifc_len = *length;
        ifc.ifc_buf = reinterpret_cast<char*>(buffer);
        if (::ioctl(sock, SIOCGIFCONF, &ifc) < 0)
            return errno;
        *length = ifc.ifc_len;
        return 0;
    }
    int interface_flags(int sock, bsd::ifreq& req) override { return pass(sock, SIOCGIFFLAGS, req); }
    int interface_addr(int sock, bsd::ifreq& req) override { return pass(sock, SIOCGIFADDR, req); }
    int interface_netmask(int sock, bsd::ifreq& req) override { return pass(sock, SIOCGIFNETMASK, req); }
    int open_icmp_socket() override { return ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP); }

    int interface_add_alias(int sock, const bsd::ifaliasreq& req) override
    {
        ::ifaliasreq native{}; // later kernels lengthen it; the fields we fill stay the same
        std::memcpy(native.ifra_name, req.ifra_name, sizeof req.ifra_name);
        std::memcpy(&native.ifra_addr, &req.ifra_addr, sizeof req.ifra_addr);
        std::memcpy(&native.ifra_broadaddr, &req.ifra_broadaddr, sizeof req.ifra_broadaddr);
        std::memcpy(&native.ifra_mask, &req.ifra_mask, sizeof req.ifra_mask);
        return ::ioctl(sock, SIOCAIFADDR, &native) < 0 ? errno : 0;
    }
    int interface_delete_addr(int sock, const bsd::ifreq& req) override
    {
        bsd::ifreq copy = req;
        return pass(sock, SIOCDIFADDR, copy);
    }
    int interface_set_flags(int sock, const bsd::ifreq& req) override
    {
        bsd::ifreq copy = req;
        return pass(sock, SIOCSIFFLAGS, copy);
    }
    int open_route_socket() override { return ::socket(PF_ROUTE, SOCK_RAW, 0); }
    int route_write(int fd, std::span<const std::byte> msg) override { return write_whole(fd, msg); }
    int open_packet_device(int n) override
    {
        char path[32];
        std::snprintf(path, sizeof path, "/dev/bpf%d", n);
        return ::open(path, O_WRONLY | O_CLOEXEC);
    }
    int packet_version(int fd, bsd::bpf_version& version) override
    {
        ::bpf_version native{};
        if (::ioctl(fd, BIOCVERSION, &native) < 0)
            return errno;
        version = {native.bv_major, native.bv_minor};
        return 0;
    }
    int packet_bind(int fd, const bsd::ifreq& req) override
    {
        bsd::ifreq copy = req;
        return pass(fd, BIOCSETIF, copy);
    }
    int packet_write(int fd, std::span<const std::byte> frame) override { return write_whole(fd, frame); }
    // The kernel answers ARP only on the interface that holds the address.
    int parked_answered_on(std::string_view, bool& answered) override
    {
        answered = false;
        return 0;
    }
    // Its ARP requests name an address of the interface they leave by.
    int parked_announced_on(std::string_view, bool& announced) override
    {
        announced = false;
        return 0;
    }

private:
    static int pass(int sock, unsigned long request, bsd::ifreq& req)
    {
        static_assert(sizeof(::ifreq) == sizeof(bsd::ifreq));
        return ::ioctl(sock, request, reinterpret_cast<::ifreq*>(&req)) < 0 ? errno : 0;
    }
    static int write_whole(int fd, std::span<const std::byte> bytes)
    {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        return n < 0 ? errno : static_cast<std::size_t>(n) == bytes.size() ? 0 : EIO;
    }
};

} // namespace

backend& native()
{
    static freebsd_backend instance;
    return instance;
}

} // namespace cutil::platform
