// vtnet's command line: what each line reads as, or the one-line message that refuses it.
#include "admin/vtnet.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace Vtnet;

namespace {

// The request as one line ("take va 192.0.2.7 forget=0 count=3", "help", "help garp"), or the
// usage message.
std::string read_line(std::vector<const char*> args)
{
    auto parsed = parse_request(args, subcommands());
    if (const auto* misuse = std::get_if<usage_error>(&parsed))
        return misuse->message;
    const request& r = std::get<request>(parsed);
    std::ostringstream out;
    if (r.help) {
        out << "help";
        if (r.command != nullptr)
            out << " " << r.command->name;
        return out.str();
    }
    out << r.command->name;
    for (const auto& operand : r.operands)
        out << " " << operand;
    out << " forget=" << r.forget << " count=" << r.count;
    return out.str();
}

} // namespace

TEST(VtnetRequest, LinesReadAsRequestsOrAreRefusedWithOneLine)
{
    const std::string take_usage = "; usage: vtnet take IF ADDR";
    const struct {
        std::vector<const char*> args;
        std::string read;
    } rows[] = {
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
        {{"take", "va"}, "vtnet take: missing operand" + take_usage},
        {{"take", "va", "192.0.2.7", "x"}, "vtnet take: unexpected operand 'x'" + take_usage},
        {{"take", "--forget", "va", "192.0.2.7"}, "vtnet take: unknown option '--forget'" + take_usage},
        {{"take", "abcdefghijklmnop", "192.0.2.7"},
         "vtnet take: interface name too long (at most 15 bytes): 'abcdefghijklmnop'" + take_usage},
        {{"take", "v/a", "192.0.2.7"}, "vtnet take: bad interface name 'v/a'" + take_usage},
        {{"take", "", "192.0.2.7"}, "vtnet take: bad interface name ''" + take_usage},
        {{"take", "va\n", "192.0.2.7"}, "vtnet take: bad interface name 'va?'" + take_usage},
        {{"take", "va", "192.0.2"}, "vtnet take: bad address '192.0.2' (four dotted decimal numbers, a host's)" + take_usage},
        {{"take", "va", "192.0.2.256"}, "vtnet take: bad address '192.0.2.256' (four dotted decimal numbers, a host's)" + take_usage},
        {{"take", "va", "0.0.0.0"}, "vtnet take: bad address '0.0.0.0' (four dotted decimal numbers, a host's)" + take_usage},
        {{"take", "va", "255.255.255.255"},
         "vtnet take: bad address '255.255.255.255' (four dotted decimal numbers, a host's)" + take_usage},
        {{"take", "va", " 192.0.2.7"}, "vtnet take: bad address ' 192.0.2.7' (four dotted decimal numbers, a host's)" + take_usage},
        {{"garp", "va", "192.0.2.7", "101"}, "vtnet garp: bad count '101' (0 to 100); usage: vtnet garp IF ADDR [COUNT]"},
        {{"garp", "va", "192.0.2.7", "3x"}, "vtnet garp: bad count '3x' (0 to 100); usage: vtnet garp IF ADDR [COUNT]"},
        {{"garp", "va", "192.0.2.7", "-1"}, "vtnet garp: unknown option '-1'; usage: vtnet garp IF ADDR [COUNT]"},
        {{"route", "replace", "192.0.2.7"}, "vtnet route: expected add or del, not 'replace'; usage: vtnet route add|del ADDR"},
    };
    for (const auto& r : rows) {
        std::string read = read_line(r.args);
        EXPECT_EQ(read, r.read);
        EXPECT_EQ(read.find('\n'), std::string::npos) << read;
    }
}

// Every subcommand's help names it with its operands, and the help of vtnet lists them all.
TEST(VtnetRequest, HelpFollowsTheTable)
{
    std::string all = help_text(request{.help = true}, subcommands());
    for (const subcommand& sub : subcommands()) {
        std::string usage = std::string(sub.name) + (sub.synopsis.empty() ? "" : " " + std::string(sub.synopsis));
        EXPECT_NE(all.find("  " + usage + "  "), std::string::npos) << usage;
        std::string one = help_text(request{.command = &sub, .help = true}, subcommands());
        EXPECT_TRUE(one.starts_with("Usage: vtnet " + usage + "\n")) << one;
    }
}
