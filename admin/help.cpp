// vtnet's help, made from the table of subcommands so that it lists what the command reads.
#include "admin/vtnet.hpp"

#include <algorithm>
#include <cctype>

namespace Vtnet {

namespace {

std::string usage_of(const subcommand& sub)
{
    std::string usage(sub.name);
    if (!sub.synopsis.empty())
        usage += " " + std::string(sub.synopsis);
    return usage;
}

// One status a line, so that no line breaks a status's meaning apart.
std::string statuses(std::string_view yes, std::string_view no, bool probe)
{
    std::string text = "Exit status:\n  0  " + std::string(yes) + "\n  1  " + std::string(no) + "\n  2  a usage error\n";
    return probe ? text + "  3  the probe could not be made (no raw socket)\n" : text;
}

std::string when_no(const subcommand& sub)
{
    std::string no = "otherwise";
    if (std::find(sub.operands.begin(), sub.operands.end(), operand_kind::ifname) != sub.operands.end()
        || sub.optional_ifname)
        no += ", or IF unknown";
    return sub.needs != needs_nothing && !sub.probe ? no + ", or a privilege missing" : no;
}

} // namespace

std::string help_text(const request& r, std::span<const subcommand> table)
{
    if (r.command != nullptr) {
        std::string summary(r.command->summary);
        summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
        return "Usage: vtnet " + usage_of(*r.command) + "\n" + summary + ".\n"
               + statuses(r.command->yes, when_no(*r.command), r.command->probe);
    }
    std::size_t width = 0;
    for (const subcommand& sub : table)
        width = std::max(width, usage_of(sub).size());
    std::string text = "Usage: vtnet SUBCOMMAND [OPERAND]...\n"
                       "Tries the network failover primitives of this host by hand.\n\n";
    for (const subcommand& sub : table) {
        std::string usage = usage_of(sub);
        text += "  " + usage + std::string(width + 2 - usage.size(), ' ') + std::string(sub.summary) + "\n";
    }
    text += "\nA query prints its answer, a change SUCCESS or FAIL, on the last line of\n"
            "standard output. An alias name IF:N stands for IF.\n"
            + statuses("the primitive succeeded or answered yes",
                       "it failed or answered no, the interface is unknown or a privilege missing", true)
            + "vtnet SUBCOMMAND --help tells more of one, vtnet --version the version.\n";
    return text;
}

} // namespace Vtnet
