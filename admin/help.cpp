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

std::string statuses(const subcommand& sub)
{
    return "Exit status: 0 " + std::string(sub.yes) + ";\n1 otherwise; 2 for a usage error.\n";
}

} // namespace

std::string help_text(const request& r, std::span<const subcommand> table)
{
    if (r.command != nullptr) {
        std::string summary(r.command->summary);
        summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
        return "Usage: vtnet " + usage_of(*r.command) + "\n" + summary + ".\n" + statuses(*r.command);
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
    text += "\nA query prints its answer on the last line of standard output.\n"
            "Exit status: 0 when the primitive succeeded or answered yes, 1 when it failed or\n"
            "answered no, 2 for a usage error. vtnet SUBCOMMAND --help tells more of one.\n";
    return text;
}

} // namespace Vtnet
