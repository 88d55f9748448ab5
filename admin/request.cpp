// Reading vtnet's command line: nothing here touches the host, so a line that is not one is
// refused before any primitive runs.
#include "admin/vtnet.hpp"

#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace Vtnet {

namespace {

constexpr std::size_t max_ifname = 15; // the kernel's 16-byte name field holds its terminator too

bool is_option(std::string_view arg) { return arg.size() > 1 && arg[0] == '-'; }
bool is_help(std::string_view arg) { return arg == "--help" || arg == "-h"; }
bool is_digits(std::string_view text) { return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos; }

// An alias name IF:N stands for IF: every subcommand acts on the interface itself.
std::string_view interface_of(std::string_view name) { return name.substr(0, name.find(':')); }

// Why the operand is not of its kind, or empty when it is.
std::string refuse_ifname(std::string_view text)
{
    if (text.size() > max_ifname)
        return "interface name too long (at most 15 bytes): " + shown(text);
    std::size_t colon = text.find(':');
    if (interface_of(text).empty() || text.find_first_of("/ \t\n") != std::string_view::npos
        || (colon != std::string_view::npos && !is_digits(text.substr(colon + 1))))
        return "bad interface name " + shown(text) + " (an alias is IF:N)";
    return {};
}

std::string refuse_address(std::string_view text)
{
    in_addr addr{};
    if (text.size() >= INET_ADDRSTRLEN || ::inet_pton(AF_INET, std::string(text).c_str(), &addr) != 1
        || addr.s_addr == INADDR_ANY || addr.s_addr == INADDR_BROADCAST)
        return "bad address " + shown(text) + " (four dotted decimal numbers, a host's)";
    return {};
}

// The loopback's own addresses never move: giving one back would take it off the loopback.
std::string refuse_movable(std::string_view text)
{
    if (std::string why = refuse_address(text); !why.empty())
        return why;
    if ((ntohl(::inet_addr(std::string(text).c_str())) >> 24) == IN_LOOPBACKNET)
        return "address " + shown(text) + " is the loopback's own";
    return {};
}

std::string refuse_count(std::string_view text, int& count)
{
    const char* end = text.data() + text.size();
    auto [at, ec] = std::from_chars(text.data(), end, count);
    if (text.empty() || ec != std::errc() || at != end || count < 0 || count > max_announcements)
        return "bad count " + shown(text) + " (0 to " + std::to_string(max_announcements) + ")";
    return {};
}

std::string refuse_operand(operand_kind kind, std::string_view text, request& r)
{
    switch (kind) {
    case operand_kind::ifname:
        return refuse_ifname(text);
    case operand_kind::address:
        return refuse_address(text);
    case operand_kind::movable:
        return refuse_movable(text);
    case operand_kind::count:
        return refuse_count(text, r.count);
    case operand_kind::route_verb:
        return text == "add" || text == "del" ? std::string() : "expected add or del, not " + shown(text);
    }
    return "unknown operand";
}

// The kinds the operands may take, in order: the required ones, then the optional one.
std::vector<operand_kind> operand_slots(const subcommand& sub, std::size_t& required)
{
    std::vector<operand_kind> slots = sub.operands;
    required = slots.size();
    if (sub.optional_count)
        slots.push_back(operand_kind::count);
    if (sub.optional_ifname)
        slots.push_back(operand_kind::ifname);
    return slots;
}

usage_error misuse(const subcommand& sub, const std::string& why)
{
    std::string usage = "vtnet " + std::string(sub.name);
    if (!sub.synopsis.empty())
        usage += " " + std::string(sub.synopsis);
    return {"vtnet " + std::string(sub.name) + ": " + why + "; usage: " + usage};
}

std::variant<request, usage_error> parse_operands(const subcommand& sub, std::span<const char* const> args)
{
    request r;
    r.command = &sub;
    std::vector<std::string_view> given;
    for (std::string_view arg : args) {
        if (is_help(arg)) {
            r.help = true;
            return r;
        }
        if (arg == "--forget" && sub.takes_forget)
            r.forget = true;
        else if (is_option(arg))
            return misuse(sub, "unknown option " + shown(arg));
        else
            given.push_back(arg);
    }
    std::size_t required = 0;
    std::vector<operand_kind> slots = operand_slots(sub, required);
    for (std::size_t i = 0; i < std::min(given.size(), slots.size()); ++i) {
        if (std::string why = refuse_operand(slots[i], given[i], r); !why.empty())
            return misuse(sub, why);
        if (slots[i] != operand_kind::count)
            r.operands.emplace_back(slots[i] == operand_kind::ifname ? interface_of(given[i]) : given[i]);
    }
    if (given.size() < required)
        return misuse(sub, "missing operand");
    if (given.size() > slots.size())
        return misuse(sub, "unexpected operand " + shown(given[slots.size()]));
    return r;
}

} // namespace

std::string shown(std::string_view text)
{
    std::string line(text);
    std::replace_if(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, '?');
    return "'" + line + "'";
}

std::variant<request, usage_error> parse_request(std::span<const char* const> args, std::span<const subcommand> table)
{
    const usage_error none{"vtnet: no subcommand given (vtnet --help lists them)"};
    if (args.empty())
        return none;
    std::string_view name = args[0];
    if (is_help(name) || name == "--version") {
        request r;
        r.help = is_help(name);
        r.version = !r.help;
        return r;
    }
    auto sub = std::find_if(table.begin(), table.end(), [&](const subcommand& s) { return s.name == name; });
    if (sub == table.end())
        return usage_error{"vtnet: unknown subcommand " + shown(name) + " (vtnet --help lists them)"};
    return parse_operands(*sub, args.subspan(1));
}

} // namespace Vtnet
