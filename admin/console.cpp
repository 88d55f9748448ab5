// What vtnet itself prints: the answer line on standard output, its complaints on standard error.
// Both go through the C streams the library prints on, so the lines keep their order.
#include "admin/handlers.hpp"

#include "cutil/iflist.hpp"

#include "platform/bsd.hpp"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace Vtnet {

int run_request(const request& r)
{
    if (r.version)
        return answer("vtnet " VT_VERSION, true);
    if (r.help) {
        std::fputs(help_text(r, subcommands()).c_str(), stdout);
        return status_yes;
    }
    // Refused before anything is tried: without them the kernel refuses step after step.
    if (std::string missing = missing_privileges(r.command->needs); !missing.empty()) {
        complain(std::string(r.command->name) + " needs " + missing + " (run it as root)");
        return r.command->probe ? status_unprobed : status_no;
    }
    return r.command->run(r);
}

int answer(std::string_view line, bool yes)
{
    std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
    std::fflush(stdout);
    return yes ? status_yes : status_no;
}

void complain(const std::string& text)
{
    std::fprintf(stderr, "vtnet: %s\n", text.c_str());
    std::fflush(stderr);
}

bool interface_known(const std::string& ifname)
{
    cutil::device_info info;
    if (cutil::get_device_info(ifname, info) == 1)
        return true;
    complain("no interface " + shown(ifname) + (ifname.starts_with("lo") ? " (the loopback is lo0)" : ""));
    return false;
}

bool interface_up(const std::string& ifname)
{
    std::vector<cutil::interface_entry> list;
    return cutil::get_interface_list(list) && std::any_of(list.begin(), list.end(), [&](const cutil::interface_entry& e) {
        return e.name == ifname && (e.flags & cutil::bsd::iff_up) != 0;
    });
}

} // namespace Vtnet
