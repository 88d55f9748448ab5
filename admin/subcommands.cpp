// The table of vtnet's subcommands: how each is written, what it does, and what runs it.
#include "admin/handlers.hpp"

namespace Vtnet {

namespace {

using k = operand_kind;

const subcommand table[] = {
    {.name = "ping", .operands = {k::address}, .needs = needs_raw, .probe = true, .synopsis = "ADDR",
     .summary = "does ADDR answer an ICMP echo within 100 ms", .yes = "when it answered", .run = run_ping},
    {.name = "arp", .operands = {k::address}, .synopsis = "ADDR",
     .summary = "the hardware address the ARP table holds for ADDR", .yes = "when the table holds one",
     .run = run_arp},
    {.name = "iface", .operands = {k::address}, .synopsis = "ADDR",
     .summary = "the up broadcast interface that carries ADDR", .yes = "when an interface carries it",
     .run = run_iface},
    {.name = "netmask", .operands = {k::ifname}, .synopsis = "IF", .summary = "the IPv4 netmask of IF",
     .yes = "when IF has one", .run = run_netmask},
    {.name = "hwaddr", .operands = {k::ifname}, .synopsis = "IF", .summary = "the hardware address of IF",
     .yes = "when IF is known", .run = run_hwaddr},
    {.name = "addrs", .operands = {k::ifname}, .synopsis = "IF",
     .summary = "the IPv4 addresses of IF, netmask and broadcast", .yes = "when IF is known",
     .run = run_addrs},
    {.name = "take", .operands = {k::ifname, k::movable}, .needs = needs_admin | needs_raw, .synopsis = "IF ADDR",
     .summary = "take ADDR over on IF and announce it",
     .yes = "when ADDR is then on IF and announced", .run = run_take},
    {.name = "release", .operands = {k::ifname, k::movable}, .takes_forget = true, .needs = needs_admin,
     .synopsis = "IF ADDR [--forget]", .summary = "give ADDR back, parking it on lo0 unless --forget",
     .yes = "when ADDR is then off IF and on lo0 (--forget: off lo0)", .run = run_release},
    {.name = "cleanup", .operands = {k::ifname}, .needs = needs_admin, .synopsis = "IF",
     .summary = "remove every IPv4 address of IF but the first", .yes = "when IF then has at most one",
     .run = run_cleanup},
    {.name = "garp", .operands = {k::ifname, k::movable}, .optional_count = true, .needs = needs_raw,
     .synopsis = "IF ADDR [COUNT]", .summary = "send COUNT (3) gratuitous ARPs for ADDR on IF",
     .yes = "when every announcement was written", .run = run_garp},
    {.name = "route", .operands = {k::route_verb, k::movable}, .needs = needs_admin, .synopsis = "add|del ADDR",
     .summary = "add (via 127.0.0.1) or delete the host route",
     .yes = "when the route is then so", .run = run_route},
    {.name = "check", .optional_ifname = true, .synopsis = "[IF]",
     .summary = "what would stop the primitives (on IF or all)",
     .yes = "when nothing would", .run = run_check},
};

} // namespace

std::span<const subcommand> subcommands() { return table; }

} // namespace Vtnet
