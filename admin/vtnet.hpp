// Vtnet: the administrator's command over the network failover primitives, one subcommand per
// primitive. The command line is read by a pure function into a request, or a usage error.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Vtnet {

// Exit statuses: the primitive succeeded or answered yes; it failed or answered no; the command
// line was not one; the probe could not be made (no answer either way).
inline constexpr int status_yes = 0;
inline constexpr int status_no = 1;
inline constexpr int status_usage = 2;
inline constexpr int status_unprobed = 3;

inline constexpr int default_announcements = 3; // as a takeover sends
inline constexpr int max_announcements = 100;

// What one operand must be.
enum class operand_kind {
    ifname,     // 1 to 15 bytes (what the kernel's name field holds), no '/', no blank; an alias
                // name IF:N (N decimal) names IF
    address,    // an IPv4 host address: four dotted decimal numbers, neither 0.0.0.0 nor 255.255.255.255
    movable,    // an address as above that may move between hosts: not the loopback's 127.0.0.0/8
    count,      // a number of announcements, 0 to max_announcements
    route_verb, // "add" or "del"
};

struct request;

// What a subcommand needs of the kernel beyond reading: changing the network configuration, and
// raw or packet sockets.
enum privilege : unsigned { needs_nothing = 0, needs_admin = 1, needs_raw = 2 };

// One subcommand: how it is written, what it does, and what runs it (answering the exit status).
struct subcommand {
    std::string_view name;
    std::vector<operand_kind> operands; // required, in this order
    bool optional_count = false;        // [COUNT] may follow them
    bool optional_ifname = false;       // [IF] may follow them
    bool takes_forget = false;          // --forget may be given
    unsigned needs = needs_nothing;     // privileges, refused up front when missing
    bool probe = false;                 // without its privileges: status_unprobed, not a no
    std::string_view synopsis;          // the operands as the help writes them
    std::string_view summary;           // what it does, one line
    std::string_view yes;               // when it answers status 0
    int (*run)(const request&) = nullptr;
};

struct request {
    const subcommand* command = nullptr; // none with `help`: the help of vtnet itself
    bool help = false;
    bool version = false;                // --version: vtnet's own
    std::vector<std::string> operands;   // the required ones, then an optional IF
    bool forget = false;
    int count = default_announcements;
};

struct usage_error {
    std::string message; // one line, without its line end
};

// The subcommands, in the order the help lists them.
std::span<const subcommand> subcommands();

// The arguments after the program name, read against `table`.
std::variant<request, usage_error> parse_request(std::span<const char* const> args, std::span<const subcommand> table);

// The argument as a message shows it: quoted, on the message's one line, control bytes as '?'.
std::string shown(std::string_view text);

// The help a request asks for: of vtnet and its subcommands, or of one subcommand.
std::string help_text(const request& r, std::span<const subcommand> table);

} // namespace Vtnet
