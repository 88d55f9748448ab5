// Gratuitous ARP through the packet device of the scripted kernel: the frame byte for byte, the
// device search, the one-time version check, the binding and every failure report.
#include "cutil/arpcast.hpp"
#include "support/console.hpp"
#include "support/scripted_kernel.hpp"

#include <algorithm>
#include <regex>

using namespace cutil;
using namespace vttest;
using call = platform::fake_backend::call;

namespace {

const std::string frame_192_0_2_5 = "packet frame fxp0 192.0.2.5";
const std::string debug_line = "DEBUG (T):: [ 192.0.2.5 -> 00:a0:c9:01:02:03 ]\n";

class Arpcast : public scripted_kernel {
protected:
    void SetUp() override
    {
        link(1, "fxp0", hw0);
        bpf_first_time = true;
    }
    // The console of one arpcast (time of day and descriptor number made constant) and what
    // reached the kernel.
    std::pair<console, std::vector<std::string>> run(std::string_view ifname, const char* addr, int count)
    {
        kernel.writes.clear();
        console c = console_of([&] { sent = arpcast_sent(ifname, addr, count); });
        static const std::regex fd_number(R"(\(\d+\): BIOCSETIF)");
        c.err = std::regex_replace(timeless(c.err), fd_number, "(FD): BIOCSETIF");
        c.out = timeless(c.out);
        return {c, kernel.summaries()};
    }
    int sent = 0; // what the last run answered
};

// What arpcast_sent answers for the kernel log: the frames written whole once a device was
// bound, -1 when none was.
bool succeeded(const std::string& entry, std::string_view call)
{
    return entry.starts_with(call) && entry.find(" -> ") == std::string::npos;
}

int sent_in(const std::vector<std::string>& log)
{
    auto done = [&](std::string_view call) {
        return static_cast<int>(std::count_if(log.begin(), log.end(), [&](auto& e) { return succeeded(e, call); }));
    };
    return done("packet bind") == 0 ? -1 : done("packet frame");
}

std::vector<std::string> opened(int first, std::vector<std::string> then)
{
    std::vector<std::string> log;
    for (int n = 0; n < first; ++n)
        log.push_back("packet open " + std::to_string(n) + " -> EBUSY");
    log.push_back("packet open " + std::to_string(first));
    log.insert(log.end(), then.begin(), then.end());
    return log;
}

} // namespace

TEST_F(Arpcast, AliasNameAnnouncesOnThePhysicalInterfaceAndChecksTheVersionOnce)
{
    auto [c, log] = run("fxp0:1", "192.0.2.5", 3);
    EXPECT_EQ(c.out, debug_line);
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(log, opened(0, {"packet version", "packet bind fxp0", frame_192_0_2_5, frame_192_0_2_5, frame_192_0_2_5}));
    const unsigned char expected[42] = {
        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 0x08, 0x06, // Ethernet
        0x00, 0x01, 0x08, 0x00, 6, 4, 0x00, 0x01,                                          // ARP request
        0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 192, 0, 2, 5,                                   // sender
        0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03, 192, 0, 2, 5};                                  // target: the same
    for (std::size_t i = 3; i < kernel.writes.size(); ++i)
        EXPECT_EQ(std::memcmp(kernel.writes[i].data.data(), expected, 42), 0) << i;
    EXPECT_EQ(kernel.writes.back().data.size(), 42u);

    auto [again, log2] = run("fxp0", "192.0.2.5", 1); // the version passed once: not asked again
    EXPECT_EQ(log2, opened(0, {"packet bind fxp0", frame_192_0_2_5}));
}

TEST_F(Arpcast, DeviceSearchVersionBindingAndWriteFailures)
{
    const std::string busy = "open: Device or resource busy\n";
    const std::string no_device = "ERR::arpcast:Couldn't open device: ";
    struct row {
        const char* label;
        std::string ifname;
        const char* addr;
        int count;
        std::set<int> busy;
        std::map<call, std::deque<int>> errnos;
        bsd::bpf_version version;
        std::string out, err;
        std::vector<std::string> log;
        bool checked = true; // the version check passed
    } rows[] = {
        {"bpf0 and bpf1 busy", "fxp0", "192.0.2.5", 1, {0, 1}, {}, {1, 1}, debug_line, busy + busy,
         opened(2, {"packet version", "packet bind fxp0", frame_192_0_2_5})},
        {"all busy", "fxp0", "192.0.2.5", 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {}, {1, 1}, "",
         [&] { std::string s; for (int i = 0; i < 16; ++i) s += busy; return s; }()
             + "ERR (T):: initdevice: no bpf devices available as /dev/bpfxx\n" + no_device + "Device or resource busy\n",
         [] { auto l = opened(15, {}); l.back() += " -> EBUSY"; return l; }(), false},
        {"version 1.0", "fxp0", "192.0.2.5", 1, {}, {}, {1, 0}, "",
         "ERR (T):: initdevice: kernel bpf (v1.0) filter out of date. current version: 1.1\n" + no_device + "Protocol not supported\n",
         opened(0, {"packet version"}), false},
        {"version 2.1", "fxp0", "192.0.2.5", 1, {}, {}, {2, 1}, "",
         "ERR (T):: initdevice: kernel bpf (v2.1) filter out of date. current version: 1.1\n" + no_device + "Protocol not supported\n",
         opened(0, {"packet version"}), false},
        {"version query refused", "fxp0", "192.0.2.5", 1, {}, {{call::packet_version, {EINVAL}}}, {1, 1}, "",
         "ERR (T):: initdevice: BIOCVERSION: Invalid argument\n" + no_device + "Invalid argument\n",
         opened(0, {"packet version -> EINVAL"}), false},
        {"binding refused", "fxp0", "192.0.2.5", 1, {}, {{call::packet_bind, {ENXIO}}}, {1, 1}, "",
         "ERR (T):: initdevice on fxp0(FD): BIOCSETIF: No such device or address\n" + no_device + "No such device or address\n",
         opened(0, {"packet version", "packet bind fxp0 -> ENXIO"})},
        {"name too long to bind", "fxp0123456789abcd:1", "192.0.2.5", 1, {}, {}, {1, 1}, "",
         "ERR (T):: initdevice on fxp0123456789abcd(FD): BIOCSETIF: No such device or address\n" + no_device
             + "No such device or address\n",
         opened(0, {"packet version"})},
        {"one write fails", "fxp0", "192.0.2.5", 3, {}, {{call::packet_write, {0, EIO}}}, {1, 1}, debug_line,
         "ERR::arpcast: bad write to device fxp0 ip 192.0.2.5\n: Input/output error\n",
         opened(0, {"packet version", "packet bind fxp0", frame_192_0_2_5, frame_192_0_2_5 + " -> EIO", frame_192_0_2_5})},
        {"count 0", "fxp0", "192.0.2.5", 0, {}, {}, {1, 1}, debug_line, "", opened(0, {"packet version", "packet bind fxp0"})},
        {"no hardware address", "em1", "192.0.2.5", 1, {}, {}, {1, 1}, "DEBUG (T):: [ 192.0.2.5 -> 00:00:00:00:00:00 ]\n", "",
         opened(0, {"packet version", "packet bind em1", "packet frame em1 192.0.2.5"})},
        {"invalid address", "fxp0", "255.255.255.255", 1, {}, {}, {1, 1}, "",
         "ERR (T):: arpcast: invalid ip address: 255.255.255.255\n", {}, false},
        {"no address", "fxp0", nullptr, 1, {}, {}, {1, 1}, "", "ERR (T):: arpcast: invalid ip address: (null)\n", {}, false},
        {"name past the work area", "fxp0:" + std::string(95, '1'), "192.0.2.5", 1, {}, {}, {1, 1}, "",
         no_device + "File name too long\n", {}, false},
    };
    for (row& r : rows) {
        bpf_first_time = true;
        kernel.busy_devices = r.busy;
        kernel.errnos = r.errnos;
        kernel.version = r.version;
        auto [c, log] = run(r.ifname, r.addr, r.count);
        EXPECT_EQ(c.out, r.out) << r.label;
        EXPECT_EQ(c.err, r.err) << r.label;
        EXPECT_EQ(log, r.log) << r.label;
        EXPECT_EQ(sent, sent_in(r.log)) << r.label;
        EXPECT_EQ(bpf_first_time, !r.checked) << r.label;
    }
}
