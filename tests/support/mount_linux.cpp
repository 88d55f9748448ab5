// The sandbox's private mount namespace, which only Linux has.
#include "support/sandbox.hpp"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace vttest {

static bool write_proc(const char* path, const std::string& text)
{
    return !!(std::ofstream(path) << text << std::flush);
}

static std::string failed(const char* what) { return what + (": " + std::string(std::strerror(errno))); }

std::string enter_namespace(const std::string& root, const std::string& at)
{
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    // An ordinary user first becomes root of a user namespace of its own.
    if (::unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return failed("unshare");
    if (uid != 0) {
        write_proc("/proc/self/setgroups", "deny"); // absent on old kernels, which need no denial
        if (!write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
            || !write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return "cannot map the user into its namespace";
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount(root.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return failed("mount");
    return {};
}

} // namespace vttest
