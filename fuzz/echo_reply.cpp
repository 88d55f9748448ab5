// Any datagram at the probe's socket: only the bytes received are read, only its own reply answers.
#include "cping/cping.hpp"
#include "fuzz/check.hpp"

#include <unistd.h>

#include <cstring>
#include <vector>

using namespace cutil;
using vtfuzz::require;

namespace {

// The verdict keeps its word about the bytes; true when it is an answer.
bool check(const std::vector<std::byte>& d, std::uint16_t ident, std::uint16_t seq)
{
    echo_check c = check_echo_reply(d, std::ssize(d), ident, seq);
    require((c.verdict == echo_verdict::runt) == (c.icmplen < 8), "a runt holds no echo header");
    if (c.verdict != echo_verdict::answer && c.verdict != echo_verdict::short_answer)
        return false;
    const std::byte* icmp = d.data() + (std::to_integer<int>(d[0]) & 0x0f) * 4;
    require(std::to_integer<int>(icmp[0]) == icmp_echo_reply, "an answer is an echo reply");
    require(std::memcmp(icmp + 4, &ident, 2) == 0 && std::memcmp(icmp + 6, &seq, 2) == 0, "an answer is the probe's own");
    require((c.verdict == echo_verdict::short_answer) == (c.icmplen < 16), "a short answer is under 16 bytes");
    return true;
}

} // namespace

// The first four bytes are an identifier and a sequence; the rest is the datagram.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    std::uint16_t ident, seq;
    std::memcpy(&ident, data, 2);
    std::memcpy(&seq, data + 2, 2);
    const std::vector<std::byte> datagram(reinterpret_cast<const std::byte*>(data + 4), reinterpret_cast<const std::byte*>(data + size));
    check(datagram, ident, seq);
    // The probe itself, waiting for its own identifier and the sequence of its last probe.
    nsent = seq;
    const bool answer = check(datagram, static_cast<std::uint16_t>(::getpid() & 0xffff), seq);
    require(datagram.empty() || proc_icmp_echo_reply(datagram.data(), std::ssize(datagram), timeval{}) == answer,
            "only the probe's own echo reply ends the wait");
    return 0;
}
