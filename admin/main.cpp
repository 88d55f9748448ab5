// vtnet: tries the network failover primitives of this host by hand.
#include "admin/handlers.hpp"

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
        } else {
            status = run_request(std::get<request>(parsed));
        }
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vtnet: out of memory\n");
        status = status_no;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}
