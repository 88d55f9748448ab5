// The wait for an address given away that still answers: the loop of prevent_linger, with the
// probe, the ARP lookup and the pause passed in so that it runs without a network.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace cutil {

struct linger_checks {
    std::function<int(std::string_view)> ping;        // as unix_ping: 0 when the address answered
    std::function<std::string(std::string_view)> arp; // as get_arp: 6 bytes, or "ERROR"
    std::function<void(int attempt)> pause;           // 50 ms x (attempt + 1)
};

// Up to ten rounds: a round ends the wait when the address no longer answers, or when the ARP
// table resolves it to a hardware address, that is, another host on the link now answers for it
// (an address still held here is reached without ARP, so it has no entry). Otherwise the round
// prints "IP %s lingers %d attempt, trying again\n" and pauses. Answers the rounds that printed.
int wait_while_lingering(const char* addr, const linger_checks& checks);

} // namespace cutil
