// Figures of the network queries beside the host's own tools, from one run inside namespaces
// this program makes: the probe of a live peer and the window of an absent one, the ARP lookup
// in a large table, the interface list of an interface with many addresses.
#include "carp/carp.hpp"
#include "cping/cping.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/ifconf.hpp"
#include "cutil/iflist.hpp"
#include "platform/backend.hpp"
#include "support/netns.hpp"
#include "timing.hpp"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

using namespace vtbench;

namespace {

// The whole ARP table read the way the home kernel's two calls read it: its size, then its bytes.
std::size_t read_whole_arp_table()
{
    const int mib[6]{cutil::bsd::ctl_net, cutil::bsd::pf_route, 0, cutil::bsd::af_inet, cutil::bsd::net_rt_flags,
                     cutil::bsd::rtf_llinfo};
    std::size_t size = 0;
    if (cutil::platform::active().route_sysctl(mib, nullptr, &size) != 0)
        return 0;
    std::vector<std::byte> table(size + 1);
    return cutil::platform::active().route_sysctl(mib, table.data(), &size) == 0 ? size : 0;
}

} // namespace

int main()
{
    const char* self = "netprobe_bench";
    if (std::string why = vttest::netns_unavailable(); !why.empty())
        return cannot_measure(self, why);
    vttest::netns_pair pair;
    if (!pair.failure().empty())
        return cannot_measure(self, "cannot make the namespaces: " + pair.failure());

    // 10,000 ARP entries: 250 documentation addresses on each of 40 interfaces (veth ends).
    std::ostringstream neigh;
    for (int k = 0; k < 20; ++k)
        neigh << "link add bx" << k << " type veth peer name by" << k << "\n";
    for (int k = 0; k < 20; ++k)
        neigh << "link set bx" << k << " up\nlink set by" << k << " up\n";
    for (int k = 0; k < 40; ++k)
        for (int h = 1; h <= 250; ++h)
            neigh << "neigh add 203.0.113." << h << " lladdr 02:00:00:00:" << std::hex << k << ":" << h << std::dec
                  << " dev b" << (k < 20 ? "x" : "y") << (k % 20) << " nud permanent\n";
    // Many addresses on one interface: all 768 of the three documentation /24s, as /32s.
    std::ostringstream addrs;
    addrs << "link add many0 type veth peer name many1\nlink set many0 up\n";
    for (const char* net : {"192.0.2.", "198.51.100.", "203.0.113."})
        for (int h = 0; h < 256; ++h)
            addrs << "addr add " << net << h << "/32 dev many0\n";
    if (!pair.batch(pair.a(), neigh.str()))
        return cannot_measure(self, "ip -batch could not fill the ARP table");

    std::string report = vttest::run_in_netns(pair.a(), [] {
        std::string out;
        cutil::unix_ping("192.0.2.2"); // resolve the peer first
        figures ours = measure(1000, [] { cutil::unix_ping("192.0.2.2"); });
        figures ping = measure(1000, [] { run_quiet({"ping", "-c", "1", "-W", "1", "-n", "-q", "192.0.2.2"}); });
        figures fping = measure(1000, [] { run_quiet({"fping", "-q", "-r", "0", "-t", "100", "192.0.2.2"}); });
        out += line("unix_ping live peer (1000)", ours, "ping -c 1 -W 1 (process)", ping);
        out += line("unix_ping live peer (1000)", ours, "fping (process)", fping);

        figures absent = measure(20, [] { cutil::unix_ping("192.0.2.77"); });
        char text[256];
        std::snprintf(text, sizeof text, "unix_ping absent address (20)      median %8.3f ms  max %8.3f ms (window 100 ms, +2 ms allowed)\n",
                      absent.median_ms, absent.max_ms);
        out += text;

        int found = 0;
        figures arp = measure(50, [&] { found += cutil::get_arp("203.0.113.250").size() == 6; });
        figures arp_miss = measure(50, [] { cutil::get_arp("198.51.100.250"); });
        std::size_t table = 0;
        figures whole = measure(50, [&] { table = read_whole_arp_table(); });
        figures ipn = measure(50, [] { run_quiet({"ip", "neigh", "show", "to", "203.0.113.250"}); });
        std::snprintf(text, sizeof text, "get_arp: %zu entries in the table, target found %d of 50 times\n",
                      table / (cutil::bsd::arp_dl_offset + 56), found);
        out += text;
        out += line("get_arp 10000 entries (hit)", arp, "ip neigh show to ADDR", ipn);
        out += line("get_arp 10000 entries (miss)", arp_miss, "ip neigh show to ADDR", ipn);
        out += line("whole ARP table, size then fill", whole, "ip neigh show to ADDR", ipn);
        double ratio = ipn.median_ms / std::max(arp.median_ms, arp_miss.median_ms);
        std::snprintf(text, sizeof text, "get_arp target: at least 1.5x faster than ip neigh show to ADDR: %s (%.2fx)\n",
                      ratio >= 1.5 ? "met" : "NOT met", ratio);
        out += text;

        return out;
    });
    // Only now the addresses, which would otherwise make the absent address a local one.
    if (!pair.batch(pair.a(), addrs.str()))
        return cannot_measure(self, "ip -batch could not add the addresses");
    report += vttest::run_in_netns(pair.a(), [] {
        std::string out;
        char text[256];
        int count = 0;
        figures dev = measure(50, [&] {
            cutil::device_info info;
            if (cutil::get_device_info("many0", info))
                count = info.addr_count;
        });
        figures ipa = measure(50, [] { run_quiet({"ip", "-4", "addr", "show", "dev", "many0"}); });
        std::snprintf(text, sizeof text, "get_device_info: %d addresses on many0\n", count);
        out += text;
        out += line("get_device_info 768 addresses", dev, "ip -4 addr show dev IF", ipa);
        std::string where;
        figures eth = measure(20, [&] { where = cutil::get_ethernet_interface("203.0.113.255"); });
        figures ipt = measure(20, [] { run_quiet({"ip", "-4", "-o", "addr", "show", "to", "203.0.113.255"}); });
        out += "get_ethernet_interface of the 768th address: " + where + "\n";
        out += line("get_ethernet_interface 768th", eth, "ip -4 -o addr show to ADDR", ipt);
        return out;
    });

    // The interface list while a takeover changes addresses: every read must answer.
    std::ostringstream setup, round;
    setup << "link add churn0 address 02:00:00:00:0c:01 type veth peer name churn0p\nlink set churn0 up\n";
    for (const char* prefix : {"198.51.100.", "203.0.113."})
        for (int h = 1; h <= 118; ++h)
            setup << "addr add " << prefix << h << "/32 dev churn0\n";
    for (const char* verb : {"del", "add"})
        for (int h = 1; h <= 20; ++h)
            round << "addr " << verb << " 198.51.100." << h << "/32 dev churn0\n";
    if (!pair.batch(pair.a(), setup.str()))
        return cannot_measure(self, "ip -batch could not set up churn0");
    pair.repeat(pair.a(), round.str());
    report += vttest::run_in_netns(pair.a(), [] {
        int failed = 0, zero_mac = 0;
        figures dev = measure(500, [&] {
            cutil::device_info info;
            failed += cutil::get_device_info("churn0", info) == 0;
            zero_mac += cutil::my_ether_addr("churn0") == "00:00:00:00:00:00";
        });
        figures ipa = measure(50, [] { run_quiet({"ip", "-4", "addr", "show", "dev", "churn0"}); });
        char text[256];
        std::snprintf(text, sizeof text, "under churn (236 addresses, 40 changes a round): get_device_info failed %d of 500, "
                                         "my_ether_addr all-zero %d of 500\n", failed, zero_mac);
        return text + line("get_device_info+my_ether_addr churn", dev, "ip -4 addr show dev IF", ipa);
    });
    std::fputs("ratio = the tool's median / ours (above 1: ours is faster; tools include their process start)\n", stdout);
    std::fputs(report.c_str(), stdout);
    return 0;
}
