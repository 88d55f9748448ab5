// The echo request bytes, the checksum and the reply check of the probe.
#include "cping/cping.hpp"
#include "platform/unique_fd.hpp"
#include "support/scripted_kernel.hpp"

#include <vector>

using namespace cutil;
using vttest::stderr_of;

namespace {

// An IPv4 header of `hlen` bytes followed by an ICMP message of `icmplen` bytes.
std::vector<std::byte> datagram(int hlen, int icmplen, std::uint8_t type, std::uint16_t ident, std::uint16_t seq)
{
    std::vector<std::byte> d(static_cast<std::size_t>(hlen + 8));
    d[0] = std::byte(0x40 | (hlen / 4));
    d[hlen] = std::byte{type};
    std::memcpy(d.data() + hlen + 4, &ident, 2);
    std::memcpy(d.data() + hlen + 6, &seq, 2);
    d.resize(static_cast<std::size_t>(hlen + icmplen));
    return d;
}

using UnixPing = vttest::scripted_kernel;

} // namespace

TEST(Echo, ChecksumVectorsAndRequestBytes)
{
    // RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2 (one's complement 220d); an odd
    // byte is the high byte of a last word.
    const std::uint8_t words[8]{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}, odd[3]{0x12, 0x34, 0x56};
    EXPECT_EQ(ntohs(in_cksum(words, 8)), 0x220d);
    EXPECT_EQ(ntohs(in_cksum(odd, 3)), static_cast<std::uint16_t>(~(0x1234 + 0x5600)));
    EXPECT_EQ(in_cksum(words, 0), 0xffff);
    std::byte buf[64]{};
    for (std::uint16_t seq : {0x0102, 0x0103}) { // rebuilding replaces the old checksum
        build_echo_request(buf, 0xbeef, seq);
        EXPECT_EQ(in_cksum(buf, 64), 0);
    }
    // The identifier and sequence in host byte order, as the peer echoes them.
    std::vector<std::byte> header = datagram(0, 8, 8, 0xbeef, 0x0103);
    header[2] = buf[2], header[3] = buf[3];
    EXPECT_EQ(std::vector<std::byte>(buf, buf + 8), header);
}

TEST(Echo, OnlyOurReplyOfThisProbeEndsTheWait)
{
    using v = echo_verdict;
    std::vector<std::byte> lying = datagram(20, 10, 0, 0x1234, 7);
    lying[0] = std::byte{0x4f}; // a header length beyond the datagram
    const std::tuple<std::vector<std::byte>, v, int> cases[]{
        {datagram(20, 64, 0, 0x1234, 7), v::answer, 64},
        {datagram(24, 64, 0, 0x1234, 7), v::answer, 64}, // header with options
        {datagram(20, 64, 0, 0x1235, 7), v::ignore, 64}, // another process's ping
        {datagram(20, 64, 0, 0x1234, 6), v::ignore, 64}, // a late reply to the last probe
        {datagram(20, 64, 8, 0x1234, 7), v::ignore, 64}, // an echo request
        {datagram(20, 12, 0, 0x1234, 7), v::short_answer, 12},
        {datagram(20, 5, 0, 0x1234, 7), v::runt, 5},
        {lying, v::runt, -30},
        {{}, v::runt, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& [d, verdict, icmplen] = cases[i];
        echo_check got = check_echo_reply(d, std::ssize(d), 0x1234, 7);
        EXPECT_EQ(std::pair(got.verdict, got.icmplen), std::pair(verdict, icmplen)) << i;
    }
    // The sequence is the counter's low 16 bits; a reply too short is reported.
    const std::uint16_t ident = static_cast<std::uint16_t>(getpid() & 0xffff);
    nsent = 0x1ffff;
    const std::byte nothing[1] = {std::byte{0x45}}; // nothing received: the length still comes from the buffer
    const std::tuple<std::vector<std::byte>, std::ptrdiff_t, int, std::string> replies[]{
        {datagram(20, 64, 0, ident, 0xffff), 84, 1, ""},
        {datagram(20, 64, 0, ident, 0xfffe), 84, 0, ""},
        {datagram(20, 4, 0, ident, 0xffff), 24, 0, "ERR:: proc_icmp_echo_reply: icmplen (4) < 8"},
        {datagram(20, 8, 0, ident, 0xffff), 28, 1, "ERR:: proc_icmp_echo_reply: icmplen (8) < 16"},
        {{nothing[0]}, 0, 0, "ERR:: proc_icmp_echo_reply: icmplen (-20) < 8"},
    };
    for (const auto& [d, len, ends, err] : replies)
        EXPECT_EQ(stderr_of([&] { EXPECT_EQ(proc_icmp_echo_reply(d.data(), len, timeval{}), ends) << len; }), err);
}

TEST_F(UnixPing, RefusesBadAddressesReportsAMissingRawSocketAndFailingReceives)
{
    std::int32_t before = nsent;
    for (const std::string& bad : std::vector<std::string>{"10.0.0.256", "", "host", std::string("10.0.0.1\0x", 10)})
        EXPECT_EQ(stderr_of([&] { EXPECT_EQ(unix_ping(bad), 1); }), "ERR:: unix_ping was called with bad IP address\n");
    // The short form is an address: the socket is what fails.
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(unix_ping("10.1"), 1); }), "ERR:: unix_ping: unable to open raw socket \n");
    EXPECT_EQ(nsent, before);
    // A pipe with data stands in for the socket: always readable, every receive fails, once reported.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    cutil::unique_fd rd(fds[0]), wr(fds[1]);
    ASSERT_EQ(::write(wr.get(), "x", 1), 1);
    kernel.icmp_fd = rd.get();
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(unix_ping("192.0.2.1"), 1); }), "ERR:: recv_from error\n");
    EXPECT_EQ(nsent, before + 1);
    nsent = INT32_MAX; // the counter wraps rather than overflowing
    stderr_of([&] { unix_ping("192.0.2.1"); });
    EXPECT_EQ(nsent, INT32_MIN);
}
