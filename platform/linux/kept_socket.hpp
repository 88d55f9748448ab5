// A socket kept across calls of one process in one network namespace. A socket opened by another
// process (the parent of a fork) or in another namespace is never used: what it carries would
// reach the wrong kernel tables, so a fresh one is opened instead.
#pragma once

#include "platform/unique_fd.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace cutil::platform::linux_rtnl {

class kept_socket {
public:
    kept_socket(int domain, int type, int protocol) : domain_(domain), type_(type), protocol_(protocol) {}

    // The kept socket, opened afresh when needed: its descriptor, or -1 with errno set.
    int get()
    {
        struct stat ns{};
        // The calling thread's namespace: a thread may have joined another one than its process.
        bool known = ::stat("/proc/thread-self/ns/net", &ns) == 0;
        if (fd_ && known && owner_ == ::getpid() && netns_ == ns.st_ino && netns_dev_ == ns.st_dev)
            return fd_.get();
        fd_.reset(::socket(domain_, type_ | SOCK_CLOEXEC, protocol_));
        // Where the namespace cannot be told, the socket serves this one call only.
        owner_ = known ? ::getpid() : 0;
        netns_ = ns.st_ino;
        netns_dev_ = ns.st_dev;
        return fd_.get();
    }
    void drop() { fd_.reset(); }

private:
    int domain_, type_, protocol_;
    unique_fd fd_;
    pid_t owner_ = 0;
    ino_t netns_ = 0;
    dev_t netns_dev_ = 0;
};

} // namespace cutil::platform::linux_rtnl
