// The echo request bytes, the checksum and the reply check of the probe.
#include "cping/cping.hpp"
#include "cutil/unique_fd.hpp"
#include "platform/fake.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

using namespace cutil;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// An IPv4 header of `hlen` bytes followed by an ICMP message of `icmplen` bytes.
std::vector<std::byte> datagram(int hlen, int icmplen, std::uint8_t type, std::uint16_t ident, std::uint16_t seq)
{
    std::vector<std::byte> d(static_cast<std::size_t>(hlen + icmplen));
    d[0] = std::byte(0x40 | (hlen / 4));
    if (icmplen >= 1)
        d[hlen] = std::byte{type};
    if (icmplen >= 8) {
        std::memcpy(d.data() + hlen + 4, &ident, 2);
        std::memcpy(d.data() + hlen + 6, &seq, 2);
    }
    return d;
}

} // namespace

TEST(InCksum, FollowsTheInternetChecksum)
{
    // RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2 (one's complement 220d).
    const std::uint8_t words[8]{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(ntohs(in_cksum(words, 8)), 0x220d);
    // An odd byte counts as the first byte of a word ending in zero.
    const std::uint8_t odd[3]{0x12, 0x34, 0x56};
    EXPECT_EQ(ntohs(in_cksum(odd, 3)), static_cast<std::uint16_t>(~(0x1234 + 0x5600)));
    EXPECT_EQ(in_cksum(words, 0), 0xffff);
}

TEST(EchoRequest, SixtyFourBytesThatCheckToZero)
{
    std::byte buf[64]{};
    build_echo_request(buf, 0xbeef, 0x0102);
    EXPECT_EQ(std::to_integer<int>(buf[0]), 8);
    EXPECT_EQ(std::to_integer<int>(buf[1]), 0);
    std::uint16_t ident, seq;
    std::memcpy(&ident, buf + 4, 2);
    std::memcpy(&seq, buf + 6, 2);
    EXPECT_EQ(ident, 0xbeef); // host byte order, as the peer echoes it back
    EXPECT_EQ(seq, 0x0102);
    for (int i = 8; i < 64; ++i)
        EXPECT_EQ(std::to_integer<int>(buf[i]), 0);
    EXPECT_EQ(in_cksum(buf, 64), 0); // a correct checksum sums the message to zero
    build_echo_request(buf, 0xbeef, 0x0103); // rebuilding replaces the old checksum
    EXPECT_EQ(in_cksum(buf, 64), 0);
}

TEST(EchoReply, OnlyOurReplyOfThisProbeEndsTheWait)
{
    using v = echo_verdict;
    auto check = [](const std::vector<std::byte>& d) { return check_echo_reply(d, 0x1234, 7); };
    EXPECT_EQ(check(datagram(20, 64, 0, 0x1234, 7)).verdict, v::answer);
    EXPECT_EQ(check(datagram(24, 64, 0, 0x1234, 7)).verdict, v::answer); // header with options
    EXPECT_EQ(check(datagram(20, 64, 0, 0x1235, 7)).verdict, v::ignore); // another process's ping
    EXPECT_EQ(check(datagram(20, 64, 0, 0x1234, 6)).verdict, v::ignore); // a late reply to the last probe
    EXPECT_EQ(check(datagram(20, 64, 8, 0x1234, 7)).verdict, v::ignore); // an echo request
    EXPECT_EQ(check(datagram(20, 36, 3, 0x1234, 7)).verdict, v::ignore); // an unreachable
    auto s = check(datagram(20, 12, 0, 0x1234, 7));
    EXPECT_EQ(s.verdict, v::short_answer);
    EXPECT_EQ(s.icmplen, 12);
    auto r = check(datagram(20, 5, 0, 0x1234, 7));
    EXPECT_EQ(r.verdict, v::runt);
    EXPECT_EQ(r.icmplen, 5);
    EXPECT_EQ(check(datagram(60, 0, 0, 0, 0)).verdict, v::runt);
    std::vector<std::byte> lying = datagram(20, 10, 0, 0x1234, 7);
    lying[0] = std::byte{0x4f}; // a header length beyond the datagram
    EXPECT_EQ(check(lying).verdict, v::runt);
    EXPECT_EQ(check({}).verdict, v::runt);
}

TEST(EchoReply, ProcessMatchesItsOwnIdentifierAndTheCurrentSequence)
{
    const std::uint16_t ident = static_cast<std::uint16_t>(getpid() & 0xffff);
    timeval tv{};
    nsent = 0x1ffff; // after 131071 probes the sequence is the low 16 bits
    auto ours = datagram(20, 64, 0, ident, 0xffff);
    EXPECT_EQ(proc_icmp_echo_reply(ours.data(), static_cast<std::ptrdiff_t>(ours.size()), tv), 1);
    auto old = datagram(20, 64, 0, ident, 0xfffe);
    EXPECT_EQ(proc_icmp_echo_reply(old.data(), static_cast<std::ptrdiff_t>(old.size()), tv), 0);

    auto runt = datagram(20, 4, 0, ident, 0xffff);
    CaptureStderr();
    EXPECT_EQ(proc_icmp_echo_reply(runt.data(), static_cast<std::ptrdiff_t>(runt.size()), tv), 0);
    EXPECT_EQ(GetCapturedStderr(), "ERR:: proc_icmp_echo_reply: icmplen (4) < 8");
    auto brief = datagram(20, 8, 0, ident, 0xffff);
    CaptureStderr();
    EXPECT_EQ(proc_icmp_echo_reply(brief.data(), static_cast<std::ptrdiff_t>(brief.size()), tv), 1);
    EXPECT_EQ(GetCapturedStderr(), "ERR:: proc_icmp_echo_reply: icmplen (8) < 16");
}

TEST(UnixPing, RefusesBadAddressesAndReportsAMissingRawSocket)
{
    platform::fake_backend kernel; // no raw-socket privilege
    platform::scoped_backend use{kernel};
    std::int32_t before = nsent;
    for (const std::string& bad : std::vector<std::string>{"10.0.0.256", "", "host", std::string("10.0.0.1\0x", 10)}) {
        CaptureStderr();
        EXPECT_EQ(unix_ping(bad), 1);
        EXPECT_EQ(GetCapturedStderr(), "ERR:: unix_ping was called with bad IP address\n");
    }
    CaptureStderr();
    EXPECT_EQ(unix_ping("10.1"), 1); // the short form is an address: the socket is what fails
    EXPECT_EQ(GetCapturedStderr(), "ERR:: unix_ping: unable to open raw socket \n");
    EXPECT_EQ(nsent, before); // no probe went out
}

TEST(UnixPing, FailingReceivesAreReportedOnceAndTheWindowStillEnds)
{
    // A pipe with data stands in for the socket: always readable, every receive fails.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    cutil::unique_fd rd(fds[0]), wr(fds[1]);
    ASSERT_EQ(::write(wr.get(), "x", 1), 1);
    platform::fake_backend kernel;
    kernel.icmp_fd = rd.get();
    platform::scoped_backend use{kernel};
    std::int32_t before = nsent;
    CaptureStderr();
    EXPECT_EQ(unix_ping("192.0.2.1"), 1);
    EXPECT_EQ(GetCapturedStderr(), "ERR:: recv_from error\n");
    EXPECT_EQ(nsent, before + 1);

    // The counter wraps rather than overflowing; the sequence keeps following its low 16 bits.
    nsent = INT32_MAX;
    CaptureStderr();
    unix_ping("192.0.2.1");
    GetCapturedStderr();
    EXPECT_EQ(nsent, INT32_MIN);
}
