// Linux grants the changes to CAP_NET_ADMIN and raw and packet sockets to CAP_NET_RAW, whoever
// the user is; the effective set is what the kernel will check.
#include "admin/handlers.hpp"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Vtnet {

namespace {

bool effective(const __user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3], unsigned cap)
{
    return (data[cap / 32].effective & (1u << (cap % 32))) != 0;
}

} // namespace

std::string missing_privileges(unsigned needs)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return {}; // unknown here: the kernel will say, through the library's own lines
    std::string missing;
    if ((needs & needs_admin) && !effective(data, CAP_NET_ADMIN))
        missing = "CAP_NET_ADMIN";
    if ((needs & needs_raw) && !effective(data, CAP_NET_RAW))
        missing += (missing.empty() ? "" : " and ") + std::string("CAP_NET_RAW");
    return missing;
}

} // namespace Vtnet
