// vtnet's command line: what each line reads as, or the one-line message that refuses it.
#include "admin/vtnet.hpp"

#include <gtest/gtest.h>

#include <numeric>

using namespace Vtnet;
using namespace std::string_literals;

namespace {

// The request as one line ("take va 192.0.2.7 forget=0 count=3", "help", "help garp"), or the usage message.
std::string read_line(std::vector<const char*> args)
{
    auto parsed = parse_request(args, subcommands());
    if (const auto* misuse = std::get_if<usage_error>(&parsed))
        return misuse->message;
    const request& r = std::get<request>(parsed);
    if (r.help)
        return r.command ? "help " + std::string(r.command->name) : "help";
    const auto operand = [](std::string line, const std::string& o) { return line + " " + o; };
    const std::string line = std::accumulate(r.operands.begin(), r.operands.end(), std::string(r.command->name), operand);
    return line + " forget=" + std::to_string(r.forget) + " count=" + std::to_string(r.count);
}

} // namespace

TEST(VtnetRequest, LinesReadAsRequestsOrAreRefusedWithOneLine)
{
    const std::string take = "; usage: vtnet take IF ADDR", garp = "; usage: vtnet garp IF ADDR [COUNT]";
    const std::pair<std::vector<const char*>, std::string> rows[] = {
        {{"ping", "192.0.2.2"}, "ping 192.0.2.2 forget=0 count=3"},
        {{"release", "--forget", "va", "192.0.2.7"}, "release va 192.0.2.7 forget=1 count=3"},
        {{"garp", "va:1", "192.0.2.7", "0"}, "garp va:1 192.0.2.7 forget=0 count=0"},
        {{"garp", "va", "192.0.2.7", "100"}, "garp va 192.0.2.7 forget=0 count=100"},
        {{"route", "del", "192.0.2.7"}, "route del 192.0.2.7 forget=0 count=3"},
        {{"check"}, "check forget=0 count=3"},
        {{"check", "abcdefghijklmno"}, "check abcdefghijklmno forget=0 count=3"},
        {{"--help"}, "help"},
        {{"-h", "nonsense"}, "help"},
        {{"take", "va", "--help"}, "help take"},
        {{"garp", "-h", "x"}, "help garp"},
        {{}, "vtnet: no subcommand given (vtnet --help lists them)"},
        {{"takeover", "va"}, "vtnet: unknown subcommand 'takeover' (vtnet --help lists them)"},
        {{"take", "va"}, "vtnet take: missing operand" + take},
        {{"take", "va", "192.0.2.7", "x"}, "vtnet take: unexpected operand 'x'" + take},
        {{"take", "--forget", "va", "192.0.2.7"}, "vtnet take: unknown option '--forget'" + take},
        {{"take", "abcdefghijklmnop", "192.0.2.7"}, "vtnet take: interface name too long (at most 15 bytes): 'abcdefghijklmnop'" + take},
        {{"take", "v/a", "192.0.2.7"}, "vtnet take: bad interface name 'v/a'" + take},
        {{"take", "", "192.0.2.7"}, "vtnet take: bad interface name ''" + take},
        {{"take", "va\n", "192.0.2.7"}, "vtnet take: bad interface name 'va?'" + take}, // one line, whatever the operand holds
        {{"garp", "va", "192.0.2.7", "101"}, "vtnet garp: bad count '101' (0 to 100)" + garp},
        {{"garp", "va", "192.0.2.7", "3x"}, "vtnet garp: bad count '3x' (0 to 100)" + garp},
        {{"garp", "va", "192.0.2.7", "-1"}, "vtnet garp: unknown option '-1'" + garp},
        {{"route", "replace", "192.0.2.7"}, "vtnet route: expected add or del, not 'replace'; usage: vtnet route add|del ADDR"},
    };
    for (const auto& [args, read] : rows)
        EXPECT_EQ(read_line(args), read);
    for (const char* addr : {"192.0.2", "192.0.2.256", "0.0.0.0", "255.255.255.255", " 192.0.2.7"})
        EXPECT_EQ(read_line({"take", "va", addr}), "vtnet take: bad address '"s + addr + "' (four dotted decimal numbers, a host's)" + take);
}
