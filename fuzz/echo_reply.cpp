// Any datagram at the probe's socket: only the bytes received are read, only its own reply answers.
#include "cping/cping.hpp"
#include "fuzz/check.hpp"

#include <unistd.h>

#include <cstring>
#include <vector>

using namespace cutil;
using vtfuzz::require;

// The verdict keeps its word about the bytes; true when it is an answer.
static bool check(const std::vector<std::byte>& d, std::uint16_t ident, std::uint16_t seq)
{
    const auto [verdict, icmplen] = check_echo_reply(d, std::ssize(d), ident, seq);
    require((verdict == echo_verdict::runt) == (icmplen < 8), "a runt holds no echo header");
    const bool short_one = verdict == echo_verdict::short_answer;
    if (verdict != echo_verdict::answer && !short_one)
        return false;
    const std::byte* icmp = d.data() + (std::to_integer<int>(d[0]) & 0x0f) * 4;
    require(std::to_integer<int>(icmp[0]) == icmp_echo_reply, "an answer is an echo reply");
    require(!std::memcmp(icmp + 4, &ident, 2) && !std::memcmp(icmp + 6, &seq, 2), "its own reply");
    require(short_one == (icmplen < 16), "a short answer is under 16 bytes");
    return true;
}

// The first four bytes are an identifier and a sequence; the rest is the datagram.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    std::uint16_t ident, seq;
    std::memcpy(&ident, data, 2);
    std::memcpy(&seq, data + 2, 2);
    const auto bytes = std::as_bytes(std::span(data, size));
    const std::vector<std::byte> d(bytes.begin() + 4, bytes.end());
    check(d, ident, seq);
    // As the probe waits: for its own identifier and the sequence of its last probe.
    nsent = seq;
    const bool answer = check(d, static_cast<std::uint16_t>(::getpid() & 0xffff), seq);
    require(d.empty() || proc_icmp_echo_reply(d.data(), std::ssize(d), timeval{}) == answer,
            "only the probe's own echo reply ends the wait");
    return 0;
}
