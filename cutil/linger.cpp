#include "cutil/linger.hpp"

#include "carp/carp.hpp"
#include "cping/cping.hpp"
#include "cutil/ifaddr.hpp"

#include <unistd.h>

#include <cstdio>

namespace cutil {

namespace {

constexpr int linger_attempts = 10;
constexpr int pause_step_us = 50 * 1000;
constexpr std::size_t hw_size = 6;

} // namespace

int wait_while_lingering(const char* addr, const linger_checks& checks)
{
    for (int attempt = 0; attempt < linger_attempts; ++attempt) {
        if (checks.ping(addr) != 0)
            return attempt;
        if (checks.arp(addr).size() == hw_size)
            return attempt; // resolved on the link: the address has moved to another host
        std::printf("IP %s lingers %d attempt, trying again\n", addr, attempt);
        std::fflush(stdout);
        checks.pause(attempt);
    }
    return linger_attempts;
}

void prevent_linger(const char* addr)
{
    if (!is_bad_kernel() || addr == nullptr)
        return;
    wait_while_lingering(addr, {unix_ping, get_arp, [](int attempt) { ::usleep(pause_step_us * (attempt + 1)); }});
}

} // namespace cutil
