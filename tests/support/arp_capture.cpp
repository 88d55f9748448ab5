#include "support/arp_capture.hpp"

#include "support/netns.hpp"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>

namespace vttest {

arp_capture::arp_capture(const std::string& ns, const char* ifname)
{
    on_netns_thread(ns, [&] {
        sock_.reset(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ARP)));
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_ARP);
        at.sll_ifindex = static_cast<int>(::if_nametoindex(ifname));
        if (sock_ && ::bind(sock_.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
            sock_.reset();
    });
}

std::vector<std::string> arp_capture::announcements(const char* addr)
{
    std::vector<std::string> out;
    std::uint32_t a = ::inet_addr(addr);
    char frame[1600];
    for (pollfd p{sock_.get(), POLLIN, 0}; ::poll(&p, 1, 500) == 1;) {
        ssize_t n = ::recv(sock_.get(), frame, sizeof frame, 0);
        if (n >= 42 && std::memcmp(frame + 28, &a, 4) == 0 && std::memcmp(frame + 38, &a, 4) == 0)
            out.emplace_back(frame, static_cast<std::size_t>(n));
    }
    return out;
}

} // namespace vttest
