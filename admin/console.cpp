// What vtnet itself prints: the answer line on standard output, its complaints on standard error.
// Both go through the C streams the library prints on, so the lines keep their order.
#include "admin/handlers.hpp"

#include "cutil/iflist.hpp"

#include <cstdio>

namespace Vtnet {

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
    complain("no interface " + ifname);
    return false;
}

} // namespace Vtnet
