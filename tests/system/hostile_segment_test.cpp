// The probe and a takeover on a segment where a neighbour floods forged traffic: echo replies
// with another identifier or sequence, right ones from other sources, runts, truncated and
// oversized (fragmented) datagrams, and ARP frames that are malformed or about other addresses.
// Hosts A and B, the observer's bridge and the forger are network namespaces the test makes.
#include "cping/cping.hpp"
#include "cping/echo.hpp"
#include "cutil/takeover.hpp"
#include "platform/unique_fd.hpp"
#include "support/netns_fixture.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

using namespace cutil;

namespace {

using frame = std::vector<std::uint8_t>;

constexpr const char* live = "192.0.2.2";
constexpr const char* absent = "192.0.2.99";
constexpr const char* moved = "192.0.2.100";
const std::uint8_t mac_a[6]{0x02, 0, 0, 0, 0x0a, 0x01};
const std::uint8_t mac_forger[6]{0x02, 0, 0, 0, 0x0a, 0x04};
const std::uint8_t everyone[6]{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

void put(frame& f, const void* p, std::size_t n)
{
    const auto* c = static_cast<const std::uint8_t*>(p);
    f.insert(f.end(), c, c + n);
}

void put16(frame& f, std::uint16_t host_order)
{
    std::uint16_t net = htons(host_order);
    put(f, &net, 2);
}

void put_addr(frame& f, const char* addr)
{
    std::uint32_t a = ::inet_addr(addr);
    put(f, &a, 4);
}

frame ethernet(const std::uint8_t (&to)[6], std::uint16_t type)
{
    frame f;
    put(f, to, 6);
    put(f, mac_forger, 6);
    put16(f, type);
    return f;
}

frame truncated(frame f, std::size_t length)
{
    f.resize(length);
    return f;
}

// An ICMP message of `type` with the identifier and sequence in host order, as the probe sends
// them, `payload` zero bytes and its checksum.
frame icmp(std::uint8_t type, std::uint16_t ident, std::uint16_t seq, std::size_t payload)
{
    frame m{type, 0, 0, 0};
    put(m, &ident, 2);
    put(m, &seq, 2);
    m.resize(8 + payload);
    std::uint16_t sum = in_cksum(m.data(), m.size());
    std::memcpy(m.data() + 2, &sum, 2);
    return m;
}

// The frames that carry `message` from `src` to host A: one IPv4 datagram, in fragments of 1480
// bytes when it does not fit the segment's MTU.
std::vector<frame> to_a(const char* src, const frame& message, std::uint16_t id)
{
    constexpr std::size_t most = 1480;
    std::vector<frame> frames;
    for (std::size_t at = 0; at < message.size(); at += most) {
        std::size_t n = std::min(most, message.size() - at);
        bool more = at + n < message.size();
        frame ip{0x45, 0};
        put16(ip, static_cast<std::uint16_t>(20 + n));
        put16(ip, id);
        put16(ip, static_cast<std::uint16_t>((more ? 0x2000 : 0) | at / 8));
        ip.insert(ip.end(), {64, IPPROTO_ICMP, 0, 0});
        put_addr(ip, src);
        put_addr(ip, "192.0.2.1");
        std::uint16_t sum = in_cksum(ip.data(), ip.size());
        std::memcpy(ip.data() + 10, &sum, 2);
        frame f = ethernet(mac_a, ETH_P_IP);
        f.insert(f.end(), ip.begin(), ip.end());
        f.insert(f.end(), message.begin() + static_cast<std::ptrdiff_t>(at), message.begin() + static_cast<std::ptrdiff_t>(at + n));
        frames.push_back(std::move(f));
    }
    return frames;
}

// Every forgery of an answer to the probe with identifier `ident` and sequence `seq`, for both
// addresses it probes: only the target itself can send the true answer.
std::vector<frame> forged_answers(std::uint16_t ident, std::uint16_t seq)
{
    std::vector<frame> out;
    std::uint16_t id = 1;
    auto add = [&](const char* src, const frame& message) {
        for (frame& f : to_a(src, message, id++))
            out.push_back(std::move(f));
    };
    const std::uint16_t other = ident ^ 0x5a5a;
    const auto late = static_cast<std::uint16_t>(seq - 1);
    for (const char* target : {live, absent}) {
        add(target, icmp(icmp_echo_reply, other, seq, 56));   // another process's reply
        add(target, icmp(icmp_echo_reply, ident, late, 56));  // a late reply to an earlier probe
        add(target, icmp(icmp_echo_reply, other, seq, 3000)); // oversized, in fragments
        add(target, truncated(icmp(icmp_echo_reply, ident, seq, 0), 4)); // a runt
        out.push_back(truncated(to_a(target, icmp(icmp_echo_reply, other, seq, 56), id++)[0], 38)); // cut short
    }
    // No reply at all. Not from the absent address: A's answers to it would wait for ARP, and on
    // one kernel the waiting answers of every namespace share one ICMP socket's buffer.
    add(live, icmp(icmp_echo_request, ident, seq, 56));
    for (const char* other_host : {"192.0.2.3", "192.0.2.4", "198.51.100.7"}) {
        add(other_host, icmp(icmp_echo_reply, ident, seq, 56));   // the right reply from elsewhere
        add(other_host, icmp(icmp_echo_reply, ident, seq, 3000)); // the same, oversized
    }
    return out;
}

frame arp(std::uint16_t protocol, std::uint8_t hw_len, std::uint8_t proto_len, const char* sender, const char* target)
{
    frame f = ethernet(everyone, ETH_P_ARP);
    put16(f, 1); // Ethernet
    put16(f, protocol);
    f.push_back(hw_len);
    f.push_back(proto_len);
    put16(f, 2); // reply
    put(f, mac_forger, 6);
    put_addr(f, sender);
    f.insert(f.end(), 6, 0);
    put_addr(f, target);
    return f;
}

// ARP frames about other addresses, and malformed ones about the moved address, which the
// segment's hosts must not take for an owner's word.
std::vector<frame> arp_garbage()
{
    return {arp(ETH_P_IP, 6, 4, "203.0.113.6", "203.0.113.5"), arp(ETH_P_IP, 6, 4, "198.51.100.9", "198.51.100.9"),
            arp(ETH_P_IP, 5, 4, moved, moved),                 arp(ETH_P_IP, 6, 6, moved, moved),
            arp(ETH_P_IPV6, 6, 4, moved, moved),               truncated(arp(ETH_P_IP, 6, 4, moved, moved), 20),
            truncated(arp(ETH_P_IP, 6, 4, moved, moved), 30)};
}

// Floods the segment from the forger's namespace, on a thread of this process, until stopped:
// the forged answers for the probe's current sequence and the ARP garbage, in rounds a
// millisecond apart; never longer than a minute, never more than 3,000,000 frames.
class forger {
public:
    forger(const std::string& ns, std::uint16_t ident) : ident_(ident)
    {
        thread_ = std::thread([this, ns] {
            if (!vttest::on_netns_thread(ns, [this] { flood(); }))
                state_ = failed;
        });
        while (state_ == starting)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~forger() { stop(); }
    bool flooding() const { return state_ == running; }
    // The sequence of the next probe.
    void aim(std::uint16_t seq) { seq_ = seq; }
    // Ends the flood; answers the frames sent.
    std::size_t stop()
    {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
        return sent_;
    }

private:
    enum state { starting, running, failed };

    void flood()
    {
        unique_fd sock(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0));
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = static_cast<int>(::if_nametoindex("vz"));
        to.sll_halen = 6;
        if (!sock || to.sll_ifindex == 0) {
            state_ = failed;
            return;
        }
        state_ = running;
        const std::vector<frame> garbage = arp_garbage();
        std::vector<frame> round;
        std::uint16_t aimed_at = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!stopping_ && sent_ < 3'000'000 && std::chrono::steady_clock::now() < deadline) {
            if (round.empty() || aimed_at != seq_) {
                aimed_at = seq_;
                round = forged_answers(ident_, aimed_at);
                round.insert(round.end(), garbage.begin(), garbage.end());
            }
            for (const frame& f : round)
                if (::sendto(sock.get(), f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0)
                    ++sent_;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::uint16_t ident_;
    std::atomic<std::uint16_t> seq_{0};
    std::atomic<int> state_{starting};
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> sent_{0};
    std::thread thread_;
};

class Hostile : public vttest::segment_test {
protected:
    void SetUp() override
    {
        segment_test::SetUp();
        if (IsSkipped())
            return;
        forger_ns = seg->join("vz", "02:00:00:00:0a:04", "192.0.2.4/24");
        ASSERT_FALSE(forger_ns.empty());
    }
    std::string observer_entry() { return seg->ip_out(seg->observer(), std::string("neigh show ") + moved); }

    std::string forger_ns;
};

} // namespace

TEST_F(Hostile, ProbeKeepsItsWordAndTakeoverReachesTheObserverThroughAFlood)
{
    // A probes from a thread of this process, so that the forger knows its identifier and
    // follows its sequence.
    forger flood(forger_ns, static_cast<std::uint16_t>(::getpid() & 0xffff));
    ASSERT_TRUE(flood.flooding());
    std::string answers;
    double slowest_ms = 0;
    for (int i = 0; i < 10; ++i)
        for (const char* target : {live, absent}) {
            flood.aim(static_cast<std::uint16_t>(nsent + 1));
            int answer = -1;
            auto t0 = std::chrono::steady_clock::now();
            vttest::on_netns_thread(seg->a(), [&] { answer = unix_ping(target); });
            slowest_ms = std::max(slowest_ms, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
            answers += std::to_string(answer);
        }
    EXPECT_EQ(answers, "01010101010101010101");
    RecordProperty("slowest_probe_ms", std::to_string(slowest_ms));

    // A holds the address and the observer reaches it there; A gives it up and B takes it over.
    EXPECT_EQ(in(seg->a(), [] { return do_take_ip("va", moved); }), "SUCCESS");
    EXPECT_EQ(in(seg->observer(), [] { return std::to_string(unix_ping(moved)); }), "0");
    EXPECT_NE(observer_entry().find("02:00:00:00:0a:01"), std::string::npos) << observer_entry();
    in(seg->a(), [] { return do_release_ip("va", moved, 1); });
    EXPECT_EQ(in(seg->b(), [] { return do_take_ip("vb", moved); }), "SUCCESS");
    EXPECT_NE(observer_entry().find("02:00:00:00:0a:02"), std::string::npos) << observer_entry();
    EXPECT_EQ(in(seg->observer(), [] { return std::to_string(unix_ping(moved)); }), "0");

    std::size_t sent = flood.stop();
    EXPECT_GT(sent, 0u);
    RecordProperty("forged_frames", std::to_string(sent));
    std::printf("forged frames %zu, slowest probe %.1f ms\n", sent, slowest_ms);
}
