// Soaks: every network primitive called many times over inside network namespaces this program
// makes, then many vtpasswd runs in the private mount namespace of the tests. For each, the open
// descriptors and the resident memory of the process that makes the calls are sampled after a
// warm-up call (the Linux backend keeps one netlink session and one packet socket per process)
// and again at the end; they should not move.
//
//   soak [calls] [runs]     calls of each primitive (default 100000), vtpasswd runs (default 10000)
#include "carp/carp.hpp"
#include "cping/cping.hpp"
#include "cutil/arpcast.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/ifconf.hpp"
#include "cutil/iflist.hpp"
#include "cutil/takeover.hpp"
#include "support/netns.hpp"
#include "support/sandbox.hpp"
#include "timing.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

struct sample {
    int fds = 0;
    long rss_kib = 0;
};

sample take_sample()
{
    sample s;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d))
            s.fds += e->d_name[0] != '.';
        ::closedir(d);
        --s.fds; // the directory's own descriptor
    }
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            s.rss_kib = std::atol(line.c_str() + 6);
    return s;
}

// One figure line: what was called, how often, how long it took, and the samples at the start,
// half-way and at the end (memory that a leak takes grows as much in the second half as in the
// first; the allocator's first reach does not).
std::string line(const std::string& what, long calls, double seconds, const sample& before, const sample& half,
                 const sample& after)
{
    char text[256];
    std::snprintf(text, sizeof text, "%-40s %8ld calls %8.1f s %9.1f us/call   fds %3d -> %3d -> %3d   RSS %6ld -> %6ld -> %6ld KiB\n",
                  what.c_str(), calls, seconds, seconds * 1e6 / static_cast<double>(calls), before.fds, half.fds,
                  after.fds, before.rss_kib, half.rss_kib, after.rss_kib);
    return text;
}

// Calls `once` after one warm-up call, `calls` times; answers its figure line.
std::string soak(const std::string& what, long calls, const std::function<void()>& once)
{
    once();
    sample before = take_sample(), half;
    auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; ++i) {
        if (i == calls / 2)
            half = take_sample();
        once();
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return line(what, calls, seconds, before, half, take_sample());
}

// Runs one soak in a child inside `ns`, its own console output discarded; prints its line.
void soak_in(const std::string& ns, const std::string& what, long calls, const std::function<void()>& once)
{
    std::string out = vttest::run_in_netns(ns, [&] {
        int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        ::close(quiet);
        return soak(what, calls, once);
    });
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
}

// Empty when it soaked, else why it could not.
std::string soak_network(long calls)
{
    if (std::string why = vttest::netns_unavailable(); !why.empty())
        return why;
    vttest::netns_pair pair;
    if (!pair.failure().empty())
        return "cannot make the namespaces: " + pair.failure();
    const std::string& a = pair.a();
    const char* moved = "203.0.113.9";
    soak_in(a, "unix_ping live peer", calls, [] { cutil::unix_ping("192.0.2.2"); });
    // The probes above left the peer in the ARP table.
    soak_in(a, "get_arp", calls, [] { cutil::get_arp("192.0.2.2"); });
    soak_in(a, "get_device_info", calls, [] {
        cutil::device_info info;
        cutil::get_device_info("va", info);
    });
    soak_in(a, "get_netmask", calls, [] { cutil::get_netmask("va"); });
    soak_in(a, "get_ethernet_interface", calls, [] { cutil::get_ethernet_interface("192.0.2.1"); });
    soak_in(a, "unix_ifconfig add + remove", calls, [moved] {
        cutil::unix_ifconfig("va", moved, "255.255.255.255", nullptr, 0, 0);
        cutil::unix_ifconfig("va", moved, nullptr, nullptr, 0, 1);
    });
    soak_in(a, "unix_route add + del", calls, [moved] {
        cutil::unix_route("va", moved, 0, 0);
        cutil::unix_route("va", moved, 0, 1);
    });
    soak_in(a, "arpcast (one frame)", calls, [] { cutil::arpcast("va", "192.0.2.1", 1); });
    soak_in(a, "do_take_ip + do_release_ip + get_released", calls, [moved] {
        cutil::do_take_ip("va", moved);
        cutil::do_release_ip("va", moved, 1);
        cutil::get_released();
    });
    return "";
}

// Runs of vtpasswd, each changing the password of one of 100 users in turn; besides the soak
// process's own samples, the largest resident memory of a run early and late, and what the etc
// directory holds at the end.
// Empty when it soaked, else why it could not.
std::string soak_vtpasswd(long runs)
{
    if (std::string why = vttest::sandbox_unavailable(); !why.empty())
        return why;
    vttest::sandbox box;
    box.make_etc();
    // The sandbox stands in for the directory two levels above the etc directory.
    const std::string replaced = std::filesystem::path(VT_ETC_DIR).parent_path().parent_path();
    if (std::string why = vttest::enter_namespace(box.root(), replaced); !why.empty())
        return why;
    constexpr int users = 100;
    for (int u = 0; u < users; ++u)
        vtbench::run_with_input({VTPASSWD_BINARY}, "user" + std::to_string(u) + " pw0\n");
    sample before = take_sample(), half;
    long failures = 0, first_rss = 0, last_rss = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < runs; ++i) {
        if (i == runs / 2)
            half = take_sample();
        const long round = i / users;
        const std::string request = "user" + std::to_string(i % users) + " pw" + std::to_string(round + 1) + " pw" + std::to_string(round) + "\n";
        vtbench::run_outcome r = vtbench::run_with_input({VTPASSWD_BINARY}, request);
        failures += r.status != 0;
        (i < users ? first_rss : last_rss) = std::max(i < users ? first_rss : last_rss, r.max_rss_kib);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::fputs(line("vtpasswd runs", runs, seconds, before, half, take_sample()).c_str(), stdout);

    std::string names;
    if (DIR* d = ::opendir(VT_ETC_DIR)) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                names += std::string(" ") + e->d_name;
        ::closedir(d);
    }
    std::printf("vtpasswd: %ld runs failed; largest RSS of a run %ld KiB in the first %d, %ld KiB after; "
                "user file %zu bytes (%d records); etc directory:%s\n",
                failures, first_rss, users, last_rss, vttest::read_file(std::string(VT_ETC_DIR) + "/vanto_users.dat").size(),
                users, names.c_str());
    return "";
}

} // namespace

int main(int argc, char** argv)
{
    const long calls = argc > 1 ? std::atol(argv[1]) : 100000;
    const long runs = argc > 2 ? std::atol(argv[2]) : 10000;
    // Each part runs whatever the other gave.
    std::string network = soak_network(calls), vtpasswd = soak_vtpasswd(runs);
    if (!network.empty())
        vtbench::cannot_measure("soak (network)", network);
    if (!vtpasswd.empty())
        vtbench::cannot_measure("soak (vtpasswd)", vtpasswd);
    return network.empty() && vtpasswd.empty() ? 0 : 1;
}
