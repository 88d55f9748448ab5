// Figures of a takeover beside the shell sequence an administrator would script instead, from one
// run on a three-host segment this program makes in namespaces: the time of do_take_ip itself,
// and the time from the call until the observer's ARP entry names the new owner.
#include "cutil/ifaddr.hpp"
#include "cutil/takeover.hpp"
#include "platform/unique_fd.hpp"
#include "support/netns.hpp"
#include "timing.hpp"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

using namespace vtbench;

namespace {

constexpr const char* moved = "192.0.2.100";

std::int64_t now_ns() { return std::chrono::duration_cast<std::chrono::nanoseconds>(clock_type::now().time_since_epoch()).count(); }

std::string encode(const figures& f)
{
    std::ostringstream o;
    o << f.median_ms << " " << f.p99_ms << " " << f.max_ms;
    return o.str();
}

figures decode(const std::string& text)
{
    figures f;
    std::istringstream(text) >> f.median_ms >> f.p99_ms >> f.max_ms;
    return f;
}

// Puts the address where a takeover finds it: parked on the loopback with a host route to it.
void park()
{
    cutil::unix_ifconfig("lo0", moved, "255.255.255.255", nullptr, 0, 0);
    cutil::unix_route("lo0", moved, 0, 0);
}

// Takeovers timed one by one in the namespace; the announcements' debug lines go to /dev/null.
figures time_takeovers(const std::string& ns, int runs, const std::function<void()>& take)
{
    return decode(vttest::run_in_netns(ns, [&] {
        std::freopen("/dev/null", "w", stdout);
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            park();
            auto t0 = clock_type::now();
            take();
            ms.push_back(std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
            cutil::unix_ifconfig("va", moved, nullptr, nullptr, 0, 1);
        }
        return encode(summarise(ms));
    }));
}

// Records when the observer's ARP entry for the address changes, and to which hardware address.
class neighbour_watch {
public:
    explicit neighbour_watch(const std::string& ns)
    {
        vttest::on_netns_thread(ns, [&] {
            sock_.reset(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
            sockaddr_nl nl{};
            nl.nl_family = AF_NETLINK;
            nl.nl_groups = RTMGRP_NEIGH;
            if (sock_ && ::bind(sock_.get(), reinterpret_cast<sockaddr*>(&nl), sizeof nl) != 0)
                sock_.reset();
        });
        if (sock_)
            reader_ = std::thread([this] { read(); });
    }
    ~neighbour_watch()
    {
        stop_ = true;
        if (reader_.joinable())
            reader_.join();
    }
    bool ok() const { return sock_.valid(); }
    // When, after `since`, the entry first named `hw`; -1 when it did not within a second.
    double ms_until(std::int64_t since, const std::uint8_t* hw)
    {
        for (int wait = 0; wait < 1000; ++wait) {
            {
                std::lock_guard lock(mutex_);
                for (const auto& [at, got] : seen_)
                    if (at >= since && std::memcmp(got.data(), hw, 6) == 0)
                        return static_cast<double>(at - since) / 1e6;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return -1;
    }

private:
    void read()
    {
        std::uint32_t wanted = ::inet_addr(moved);
        alignas(nlmsghdr) char buf[16384];
        for (pollfd p{sock_.get(), POLLIN, 0}; !stop_;) {
            if (::poll(&p, 1, 50) != 1)
                continue;
            ssize_t n = ::recv(sock_.get(), buf, sizeof buf, 0);
            std::int64_t at = now_ns();
            int left = static_cast<int>(n);
            for (auto* h = reinterpret_cast<nlmsghdr*>(buf); n > 0 && NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
                if (h->nlmsg_type != RTM_NEWNEIGH)
                    continue;
                std::uint32_t dst = 0;
                std::array<std::uint8_t, 6> hw{};
                bool has_hw = false;
                int rlen = static_cast<int>(RTM_PAYLOAD(h));
                for (auto* a = RTM_RTA(static_cast<ndmsg*>(NLMSG_DATA(h))); RTA_OK(a, rlen); a = RTA_NEXT(a, rlen)) {
                    if (a->rta_type == NDA_DST && RTA_PAYLOAD(a) == 4)
                        std::memcpy(&dst, RTA_DATA(a), 4);
                    if (a->rta_type == NDA_LLADDR && RTA_PAYLOAD(a) == 6)
                        has_hw = (std::memcpy(hw.data(), RTA_DATA(a), 6), true);
                }
                if (dst == wanted && has_hw) {
                    std::lock_guard lock(mutex_);
                    seen_.emplace_back(at, hw);
                }
            }
        }
    }

    cutil::unique_fd sock_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::pair<std::int64_t, std::array<std::uint8_t, 6>>> seen_;
};

} // namespace

int main()
{
    if (std::string why = vttest::netns_unavailable(); !why.empty())
        return vtbench::cannot_measure("takeover_bench", why);
    vttest::netns_segment seg;
    if (!seg.failure().empty())
        return vtbench::cannot_measure("takeover_bench", "cannot make the namespaces: " + seg.failure());
    // arping takes whole seconds between its announcements (-i 0 never ends): the script is also
    // timed without it, as the floor of any script.
    const std::string changes = std::string("ip route del ") + moved + "/32; ip addr add " + moved + "/32 dev va; ip addr del "
                                + moved + "/32 dev lo";
    const std::string script = changes + "; arping -q -U -c 3 -I va " + moved;
    figures ours = time_takeovers(seg.a(), 200, [] { cutil::do_take_ip("va", moved); });
    figures fast = time_takeovers(seg.a(), 200, [&] { run_quiet({"sh", "-c", changes}); });
    figures plain = time_takeovers(seg.a(), 5, [&] { run_quiet({"sh", "-c", script}); });

    // The observer knows the address at B; each round the other host lets it go untimed and the
    // new owner takes it while the observer watches its ARP table.
    neighbour_watch watch(seg.observer());
    seg.ip(seg.observer(), std::string("neigh replace ") + moved + " lladdr 02:00:00:00:0a:02 dev br0 nud stale");
    const std::uint8_t hw_a[6]{2, 0, 0, 0, 0x0a, 1}, hw_b[6]{2, 0, 0, 0, 0x0a, 2};
    std::vector<double> follow;
    int missed = 0;
    for (int round = 0; watch.ok() && round < 50; ++round) {
        bool to_a = round % 2 == 0;
        const std::string& owner = to_a ? seg.a() : seg.b();
        const std::string& former = to_a ? seg.b() : seg.a();
        const char* dev = to_a ? "va" : "vb";
        seg.ip(former, std::string("addr del ") + moved + "/32 dev " + (to_a ? "vb" : "va"));
        std::int64_t since = std::stoll(vttest::run_in_netns(owner, [&] {
            std::freopen("/dev/null", "w", stdout);
            std::int64_t t0 = now_ns();
            cutil::do_take_ip(dev, moved);
            return std::to_string(t0);
        }));
        double ms = watch.ms_until(since, to_a ? hw_a : hw_b);
        ms < 0 ? ++missed : (follow.push_back(ms), 0);
    }
    figures arp = summarise(follow);

    std::printf("ratio = the script's median / ours (above 1: ours is faster; the script includes its process starts)\n");
    std::fputs(line("do_take_ip (200)", ours, "script without arping (200)", fast).c_str(), stdout);
    std::fputs(line("do_take_ip (200)", ours, "script with arping -U -c 3 (5)", plain).c_str(), stdout);
    std::printf("call to observer's ARP entry at the new owner (%zu of 50, %d missed): median %.3f ms  p99 %.3f ms  max %.3f ms\n",
                follow.size(), missed, arp.median_ms, arp.p99_ms, arp.max_ms);
    return 0;
}
