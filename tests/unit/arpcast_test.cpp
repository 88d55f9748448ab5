// Gratuitous ARP through the packet device of the scripted kernel: the frame byte for byte, the
// device search, the one-time version check, the binding and every failure report.
#include "cutil/arpcast.hpp"
#include "support/scripted_kernel.hpp"

#include <regex>

using namespace cutil;
using namespace vttest;
using call = platform::fake_backend::call;

namespace {

class Arpcast : public scripted_kernel {
protected:
    void SetUp() override { link(1, "fxp0", hw0); }
    // "checked" when the version check passed, then the trace of one arpcast, the descriptor
    // number made constant.
    std::string run(const std::string& ifname, const char* addr, int count)
    {
        static const std::regex fd_number(R"(\(\d+\): BIOCSETIF)");
        std::string t = std::regex_replace(trace([&] { arpcast(ifname, addr, count); }), fd_number, "(FD): BIOCSETIF");
        return (bpf_first_time ? "" : "checked\n") + t;
    }
};

// The device opened after `busy` busy ones, then the lines of `then`.
std::string opened(int busy, const std::string& then)
{
    std::string log;
    for (int n = 0; n < busy; ++n)
        log += "packet open " + std::to_string(n) + " -> EBUSY\n";
    return log + (busy < 16 ? "packet open " + std::to_string(busy) + "\n" : "") + then;
}

const std::string frame = "packet frame fxp0 192.0.2.5\n", sent = "packet version\npacket bind fxp0\n" + frame;
const std::string debug = "out: DEBUG (T):: [ 192.0.2.5 -> 00:a0:c9:01:02:03 ]\n";
const std::string no_device = "ERR::arpcast:Couldn't open device: ", busy = "open: Device or resource busy\n";

} // namespace

TEST_F(Arpcast, AliasNameAnnouncesOnThePhysicalInterfaceAndChecksTheVersionOnce)
{
    EXPECT_EQ(run("fxp0:1", "192.0.2.5", 3), "checked\n" + opened(0, sent + frame + frame) + debug + "err: ");
    const unsigned char expected[42] = {
        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 0x08, 0x06, // Ethernet
        0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x01,                                          // ARP request
        0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 192, 0, 2, 5,                                   // sender
        0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 192, 0, 2, 5};                                  // target: the same
    const auto* e = reinterpret_cast<const std::byte*>(expected);
    for (std::size_t i = 3; i < kernel.writes.size(); ++i)
        EXPECT_EQ(kernel.writes[i].data, bsd::bytes(e, e + 42)) << i;
    // The version passed once: not asked again.
    EXPECT_EQ(run("fxp0", "192.0.2.5", 1), "checked\n" + opened(0, "packet bind fxp0\n" + frame) + debug + "err: ");
}

TEST_F(Arpcast, DeviceSearchVersionBindingAndWriteFailures)
{
    const std::string busy16 = [] { std::string s; for (int i = 0; i < 16; ++i) s += busy; return s; }();
    const auto old = [&](const char* version) {
        return opened(0, "packet version\nout: err: ERR (T):: initdevice: kernel bpf (v") + version
               + ") filter out of date. current version: 1.1\n" + no_device + "Protocol not supported\n";
    };
    const std::string unbound = "out: err: ERR (T):: initdevice on %s(FD): BIOCSETIF: No such device or address\n"
                                + no_device + "No such device or address\n";
    struct row {
        std::string ifname;
        const char* addr;
        int count;
        std::set<int> busy;
        std::map<call, std::deque<int>> errnos;
        bsd::bpf_version version;
        std::string want;
    } rows[] = {
        {"fxp0", "192.0.2.5", 1, {0, 1}, {}, {1, 1}, "checked\n" + opened(2, sent) + debug + "err: " + busy + busy},
        {"fxp0", "192.0.2.5", 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {}, {1, 1},
         opened(16, "out: err: ") + busy16 + "ERR (T):: initdevice: no bpf devices available as /dev/bpfxx\n" + no_device
             + "Device or resource busy\n"},
        {"fxp0", "192.0.2.5", 1, {}, {}, {1, 0}, old("1.0")},
        {"fxp0", "192.0.2.5", 1, {}, {}, {2, 1}, old("2.1")},
        {"fxp0", "192.0.2.5", 1, {}, {{call::packet_version, {EINVAL}}}, {1, 1},
         opened(0, "packet version -> EINVAL\nout: err: ERR (T):: initdevice: BIOCVERSION: Invalid argument\n") + no_device
             + "Invalid argument\n"},
        {"fxp0", "192.0.2.5", 1, {}, {{call::packet_bind, {ENXIO}}}, {1, 1},
         "checked\n" + opened(0, "packet version\npacket bind fxp0 -> ENXIO\n") + std::regex_replace(unbound, std::regex("%s"), "fxp0")},
        // A name the request cannot hold is refused, never cut into another interface's name.
        {"fxp0123456789abcd:1", "192.0.2.5", 1, {}, {}, {1, 1},
         "checked\n" + opened(0, "packet version\n") + std::regex_replace(unbound, std::regex("%s"), "fxp0123456789abcd")},
        {"fxp0", "192.0.2.5", 3, {}, {{call::packet_write, {0, EIO}}}, {1, 1},
         "checked\n" + opened(0, sent + "packet frame fxp0 192.0.2.5 -> EIO\n" + frame) + debug
             + "err: ERR::arpcast: bad write to device fxp0 ip 192.0.2.5\n: Input/output error\n"},
        {"fxp0", "192.0.2.5", 0, {}, {}, {1, 1}, "checked\n" + opened(0, "packet version\npacket bind fxp0\n") + debug + "err: "},
        {"em1", "192.0.2.5", 1, {}, {}, {1, 1},
         "checked\n" + opened(0, "packet version\npacket bind em1\npacket frame em1 192.0.2.5\n")
             + "out: DEBUG (T):: [ 192.0.2.5 -> 00:00:00:00:00:00 ]\nerr: "},
        {"fxp0", "255.255.255.255", 1, {}, {}, {1, 1}, "out: err: ERR (T):: arpcast: invalid ip address: 255.255.255.255\n"},
        {"fxp0", nullptr, 1, {}, {}, {1, 1}, "out: err: ERR (T):: arpcast: invalid ip address: (null)\n"},
        {"fxp0:" + std::string(95, '1'), "192.0.2.5", 1, {}, {}, {1, 1}, "out: err: " + no_device + "File name too long\n"},
    };
    for (row& r : rows) {
        bpf_first_time = true;
        kernel.busy_devices = r.busy;
        kernel.errnos = r.errnos;
        kernel.version = r.version;
        EXPECT_EQ(run(r.ifname, r.addr, r.count), r.want) << r.ifname << " " << (r.addr ? r.addr : "null") << " " << r.count;
    }
}
