// The FreeBSD backend: the kernel already speaks the structures of platform/bsd.hpp, so each
// operation passes straight through to the real call.
#include "platform/backend.hpp"

#include <sys/types.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/sysctl.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>

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

private:
    static int pass(int sock, unsigned long request, bsd::ifreq& req)
    {
        static_assert(sizeof(::ifreq) == sizeof(bsd::ifreq));
        return ::ioctl(sock, request, reinterpret_cast<::ifreq*>(&req)) < 0 ? errno : 0;
    }
};

} // namespace

backend& native()
{
    static freebsd_backend instance;
    return instance;
}

} // namespace cutil::platform
