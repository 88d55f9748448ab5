#include "cping/echo.hpp"

#include <algorithm>
#include <cstring>

namespace cutil {

std::uint16_t in_cksum(const void* data, std::size_t length)
{
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t sum = 0;
    for (; length > 1; length -= 2, p += 2) {
        std::uint16_t word;
        std::memcpy(&word, p, sizeof word);
        sum += word;
    }
    if (length == 1) {
        std::uint16_t word = 0;
        std::memcpy(&word, p, 1);
        sum += word;
    }
    sum = (sum >> 16) + (sum & 0xffff);
    sum += sum >> 16;
    return static_cast<std::uint16_t>(~sum);
}

void build_echo_request(std::byte* buf, std::uint16_t ident, std::uint16_t seq)
{
    buf[0] = std::byte{icmp_echo_request};
    buf[1] = std::byte{0};
    std::memset(buf + 2, 0, 2);
    std::memcpy(buf + 4, &ident, 2);
    std::memcpy(buf + 6, &seq, 2);
    std::uint16_t sum = in_cksum(buf, echo_request_size);
    std::memcpy(buf + 2, &sum, 2);
}

echo_check check_echo_reply(std::span<const std::byte> buffer, std::ptrdiff_t received, std::uint16_t ident,
                            std::uint16_t seq)
{
    const int len = static_cast<int>(std::min<std::ptrdiff_t>(received, std::ssize(buffer)));
    const int hlen = buffer.empty() ? 0 : (std::to_integer<int>(buffer[0]) & 0x0f) * 4;
    const int icmplen = len - hlen;
    if (icmplen < 8)
        return {echo_verdict::runt, icmplen};
    const std::byte* icmp = buffer.data() + hlen;
    if (std::to_integer<std::uint8_t>(icmp[0]) != icmp_echo_reply)
        return {echo_verdict::ignore, icmplen};
    std::uint16_t got_ident, got_seq;
    std::memcpy(&got_ident, icmp + 4, 2);
    std::memcpy(&got_seq, icmp + 6, 2);
    if (got_ident != ident || got_seq != seq)
        return {echo_verdict::ignore, icmplen};
    if (icmplen < 16)
        return {echo_verdict::short_answer, icmplen};
    return {echo_verdict::answer, icmplen};
}

} // namespace cutil
