// The subcommands of vtnet, each a short composition of library calls answering its exit status.
// Operands arrive checked (request.cpp); every console line of the library stays as it is.
#pragma once

#include "admin/vtnet.hpp"

#include <string>
#include <string_view>

namespace Vtnet {

// Queries.
int run_ping(const request& r);
int run_arp(const request& r);
int run_iface(const request& r);
int run_netmask(const request& r);
int run_hwaddr(const request& r);
int run_addrs(const request& r);
// Changes.
int run_take(const request& r);
int run_release(const request& r);
int run_cleanup(const request& r);
int run_garp(const request& r);
int run_route(const request& r);
// What would stop the primitives here.
int run_check(const request& r);

// Runs what the request asks for: the help, the version, or the subcommand once its privileges
// are there; answers the exit status.
int run_request(const request& r);
// The privileges of `needs` this process lacks, named for a message ("CAP_NET_RAW"); empty when
// it has them all.
std::string missing_privileges(unsigned needs);

// Prints the answer as the last line of standard output; status_yes when `yes`, else status_no.
int answer(std::string_view line, bool yes);
// "vtnet: TEXT" on standard error.
void complain(const std::string& text);
// True when the interface list holds the interface; otherwise says so on standard error.
bool interface_known(const std::string& ifname);
// True when the interface is known and up; a down link announces nothing.
bool interface_up(const std::string& ifname);

} // namespace Vtnet
