// What only Linux has: the sandbox's private mount namespace, seccomp filters.
#include "support/sandbox.hpp"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>

#include <cerrno>
#include <cstring>

namespace vttest {

std::string enter_namespace(const std::string& root, const std::string& at)
{
    if (::unshare(CLONE_NEWNS) != 0)
        return std::string("unshare: ") + std::strerror(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount(root.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return std::string("mount: ") + std::strerror(errno);
    return {};
}

void install_filter(const std::vector<sock_filter>& code)
{
    const sock_fprog program{static_cast<unsigned short>(code.size()), const_cast<sock_filter*>(code.data())};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
        || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        std::_Exit(125);
}

} // namespace vttest
