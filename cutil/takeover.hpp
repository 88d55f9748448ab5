// Taking IPv4 addresses over and giving them back: the steps the failover service runs on this
// host, the queue of released addresses it collects, and the queries of where an address lives.
// Addresses are dotted-decimal texts; every answer is a new string owned by the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cutil {

// Prepares the released-address queue; answers "SUCCESS".
std::string c_ip_init();
// Appends an address (network byte order) to the queue.
void enqueue_released(std::uint32_t addr);
// The oldest released address, taken off the queue; empty when there is none.
std::string get_released();

// Removes the host route, adds the address to the interface as a host address, takes it off the
// loopback if it was parked there, and announces it three times. "SUCCESS" whatever the steps
// gave; "FAIL", reported and nothing changed, for text that is not four dotted decimal numbers
// (0.0.0.0 neither), the one rule of every step here.
std::string do_take_ip(std::string_view ifname, std::string_view addr);
// Queues the address, removes it from the interface (unless ifname is "ERROR") with its host
// route, then parks it on the loopback, or forgets it there when `forget` is nonzero.
// "SUCCESS", or "FAIL" as do_take_ip.
std::string do_release_ip(std::string_view ifname, std::string_view addr, int forget);
// Queues the address without touching any interface but the loopback; ends the process with
// status 1 on an address that is not one.
std::string queue_release_ip(std::string_view addr, int forget);
// Removes every IPv4 address of the interface but its first; "FAIL" for an unknown interface.
std::string device_cleanup(std::string_view ifname);

// The interface name when it carries the address, else "ERROR".
std::string find_ip_device(std::string_view ifname, std::string_view addr);
std::string find_free_device(std::string_view ifname);
// True when the address is on the interface or parked on the loopback.
bool configured_ip(std::string_view ifname, std::string_view addr);
int do_configured_ip(std::string_view ifname, std::string_view addr);
// Writes "lo0" to `name` (at least 4 bytes); answers 1 when `no_search` is set or the address is
// on the loopback, else 0.
int find_local_device(std::string_view addr, char* name, int no_search);
// Removes the address and its host route from the loopback when it is parked there.
void forget_local_ip(std::string_view addr);

[[noreturn]] void vanto_exit(int status);
int get_max_ips();
bool is_unblocked_local();
bool check_stop_requested();
std::vector<std::string> get_failover_ips();

} // namespace cutil
