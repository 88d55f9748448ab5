// vtnet: tries the network failover primitives of this host by hand.
#include "admin/vtnet.hpp"

#include <cstdio>
#include <new>
#include <variant>

int main(int argc, char** argv)
{
    using namespace Vtnet;
    int status = status_no;
    try {
        auto parsed = parse_request({argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)}, subcommands());
        if (const auto* misuse = std::get_if<usage_error>(&parsed)) {
            std::fprintf(stderr, "%s\n", misuse->message.c_str());
            status = status_usage;
        } else if (const request& r = std::get<request>(parsed); r.help) {
            std::fputs(help_text(r, subcommands()).c_str(), stdout);
            status = status_yes;
        } else {
            status = r.command->run(r);
        }
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vtnet: out of memory\n");
        status = status_no;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}
