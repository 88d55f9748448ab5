// The FreeBSD backend: the real calls. Routing messages go through the translator, since a kernel
// of today lays them out otherwise than the library (FreeBSD 11 and later: if_msghdr; amd64:
// rt_msghdr and the rounding of socket addresses); the other requests pass straight through.
#include "platform/backend.hpp"
#include "platform/freebsd/layout.hpp"
#include "platform/translate.hpp"

#include <sys/types.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/sysctl.h>
#include <net/bpf.h>
#include <net/if.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace cutil::platform {

namespace {

// A routing sysctl's whole answer in the library's layout; a table that grew between sizing and
// reading is asked again.
int translated_dump(std::span<const int> mib, bsd::bytes& out)
{
    bsd::bytes native;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::size_t size = 0;
        if (::sysctl(mib.data(), static_cast<u_int>(mib.size()), nullptr, &size, nullptr, 0) < 0)
            return errno;
        native.resize(size + size / 8 + 1);
        size = native.size();
        if (::sysctl(mib.data(), static_cast<u_int>(mib.size()), native.data(), &size, nullptr, 0) == 0) {
            native.resize(size);
            out = bsd::translate_messages(native, native_layout, bsd::product_layout);
            return 0;
        }
        if (errno != ENOMEM)
            return errno;
    }
    return ENOMEM;
}

// What a size query read, kept for the fill that follows it in the same thread; a fill of
// another table, or a second query, reads anew.
struct kept_snapshot {
    std::vector<int> mib;
    bsd::bytes bytes;
};
thread_local std::optional<kept_snapshot> kept;

class freebsd_backend final : public backend {
public:
    // The snapshot in the library's layout. Translating changes its length, so a size query reads
    // the table and keeps it for the fill that follows: both see one table.
    int route_sysctl(std::span<const int> mib, void* buffer, std::size_t* size) override
    {
        try {
            std::optional<kept_snapshot> last = std::exchange(kept, std::nullopt);
            bsd::bytes ours;
            if (buffer != nullptr && last && std::ranges::equal(last->mib, mib))
                ours = std::move(last->bytes);
            else if (int e = translated_dump(mib, ours))
                return e;
            if (buffer == nullptr) {
                *size = ours.size();
                kept = kept_snapshot{{mib.begin(), mib.end()}, std::move(ours)};
                return 0;
            }
            if (*size < ours.size())
                return ENOMEM; // the table grew since its size was asked
            if (!ours.empty())
                std::memcpy(buffer, ours.data(), ours.size());
            *size = ours.size();
            return 0;
        } catch (const std::bad_alloc&) {
            return ENOMEM;
        }
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
        ::ifaliasreq native{}; // later kernels lengthen it (ifra_vhid, left 0); the fields we fill stay
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
    // The kernel refuses a message shorter than its own header: it gets its own layout.
    int route_write(int fd, std::span<const std::byte> msg) override
    {
        bsd::bytes native;
        try {
            native = bsd::translate_messages(msg, bsd::product_layout, native_layout);
        } catch (const std::bad_alloc&) {
            return ENOMEM;
        }
        return native.empty() ? EINVAL : write_whole(fd, native);
    }
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
