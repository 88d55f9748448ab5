// The socket utilities on real sockets; the pending-error case runs in a network namespace of
// its own with a documentation address on its loopback.
#include "cutil/sockets.hpp"
#include "support/child.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

// A descriptor number that names nothing open.
int closed_descriptor()
{
    int fd = ::dup(0);
    ::close(fd);
    return fd;
}

int sock_option(int fd, int option)
{
    int value = -1;
    socklen_t len = sizeof value;
    ::getsockopt(fd, SOL_SOCKET, option, &value, &len);
    return value;
}

const std::string ebadf = std::strerror(EBADF);

} // namespace

TEST(Sockets, ConstructorsMakeInternetSocketsAndRaiseNamingSocket)
{
    cutil::unique_fd dgram = cutil::unix_socket_dgram();
    cutil::unique_fd stream = cutil::unix_socket_stream();
    ASSERT_TRUE(dgram && stream);
    EXPECT_EQ(sock_option(dgram.get(), SO_DOMAIN), AF_INET);
    EXPECT_EQ(sock_option(dgram.get(), SO_TYPE), SOCK_DGRAM);
    EXPECT_EQ(sock_option(stream.get(), SO_TYPE), SOCK_STREAM);
    EXPECT_EQ(cutil::int_socket(stream), stream.get());
    try {
        cutil::vt_unix_socket(0x7ff);
        ADD_FAILURE() << "a type the kernel does not know made a socket";
    } catch (const cutil::unix_error& e) {
        EXPECT_EQ(e.code().value(), EINVAL);
        EXPECT_EQ(e.call(), "socket");
        EXPECT_EQ(e.arg(), "");
    }
}

TEST(Sockets, OptionsAreSetOrAnsweredWithTheComposedReason)
{
    cutil::unique_fd s = cutil::unix_socket_dgram();
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    cutil::unique_fd pr(p[0]), pw(p[1]);
    const int bad = closed_descriptor(); // taken last, so nothing opened here reuses it

    EXPECT_EQ(cutil::reuse_addr(s.get()), "SUCCESS");
    EXPECT_EQ(sock_option(s.get(), SO_REUSEADDR), 1);
    EXPECT_EQ(cutil::reuse_addr(bad), "reuse_addr: SO_REUSEADDR: " + ebadf);

    EXPECT_EQ(cutil::unblock_socket(s.get()), "SUCCESS");
    EXPECT_TRUE(::fcntl(s.get(), F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(cutil::unblock_socket(s.get()), "SUCCESS");
    EXPECT_EQ(cutil::unblock_socket(bad), "unblock_socket: F_GETFL: " + ebadf);

    EXPECT_EQ(cutil::setsendbuf(s.get(), 65536), "SUCCESS");
    EXPECT_GE(sock_option(s.get(), SO_SNDBUF), 65536);
    const int before = sock_option(s.get(), SO_SNDBUF);
    const std::string refused = std::string("setsendbuf: SO_SNDBUF: ") + std::strerror(EINVAL);
    EXPECT_EQ(cutil::setsendbuf(s.get(), 0), refused);
    EXPECT_EQ(cutil::setsendbuf(s.get(), -4096), refused);
    EXPECT_EQ(sock_option(s.get(), SO_SNDBUF), before);
    EXPECT_EQ(cutil::setsendbuf(pw.get(), 4096), std::string("setsendbuf: SO_SNDBUF: ") + std::strerror(ENOTSOCK));
    // The answer is the caller's copy: a later failure does not change it.
    std::string kept = cutil::reuse_addr(bad);
    cutil::setsendbuf(bad, 1);
    EXPECT_EQ(kept, "reuse_addr: SO_REUSEADDR: " + ebadf);

    EXPECT_EQ(cutil::getsockerr(bad), EBADF);
    EXPECT_EQ(cutil::getsockerr(pr.get()), ENOTSOCK);
}

TEST(Sockets, PendingErrorIsAnsweredOnceThenCleared)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    cutil::unique_fd a(pair[0]), b(pair[1]);
    EXPECT_EQ(cutil::getsockerr(a.get()), 0);

    if (::geteuid() != 0)
        GTEST_SKIP() << "a refused datagram needs a network namespace of its own (root)";
    auto r = vttest::run_in_child([] {
        if (::unshare(CLONE_NEWNET) != 0)
            return std::string("unshare: ") + std::strerror(errno);
        // The namespace's own loopback, up and holding 192.0.2.1.
        cutil::unique_fd ctl = cutil::unix_socket_dgram();
        ifreq ifr{};
        std::strcpy(ifr.ifr_name, "lo");
        auto* sin = reinterpret_cast<sockaddr_in*>(&ifr.ifr_addr);
        sin->sin_family = AF_INET;
        ::inet_pton(AF_INET, "192.0.2.1", &sin->sin_addr);
        if (::ioctl(ctl.get(), SIOCSIFADDR, &ifr) != 0)
            return std::string("SIOCSIFADDR: ") + std::strerror(errno);
        ifr.ifr_flags = IFF_UP;
        if (::ioctl(ctl.get(), SIOCSIFFLAGS, &ifr) != 0)
            return std::string("SIOCSIFFLAGS: ") + std::strerror(errno);
        cutil::unique_fd s = cutil::unix_socket_dgram();
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        ::inet_pton(AF_INET, "192.0.2.1", &to.sin_addr);
        if (::connect(s.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 || ::send(s.get(), "x", 1, 0) != 1)
            return std::string("send: ") + std::strerror(errno);
        pollfd p{s.get(), 0, 0};
        ::poll(&p, 1, 2000); // the port-unreachable answer arrives as POLLERR
        int first = cutil::getsockerr(s.get());
        int second = cutil::getsockerr(s.get());
        return std::to_string(first) + " " + std::to_string(second);
    });
    EXPECT_EQ(r.answer, std::to_string(ECONNREFUSED) + " 0");
}

TEST(Sockets, CloseReleasesOnceAndNeverTouchesALaterDescriptor)
{
    cutil::unique_fd s = cutil::unix_socket_stream();
    const int number = s.get();
    cutil::vt_close_socket(s);
    EXPECT_FALSE(s.valid());
    EXPECT_EQ(::fcntl(number, F_GETFD), -1);
    // The number is handed out again; closing the old socket a second time leaves it alone.
    cutil::unique_fd reused(::dup(0));
    ASSERT_EQ(reused.get(), number);
    cutil::vt_close_socket(s);
    EXPECT_NE(::fcntl(reused.get(), F_GETFD), -1);
}

TEST(SelectHandler, LookedUpAtTheFirstCallThatFindsItAndKept)
{
    // The handler reference is process-wide, so the sequence runs in a child of its own.
    auto r = vttest::run_in_child([] {
        std::string seen = std::to_string(cutil::call_select(2, 3));
        cutil::register_handler("other", [](int a, int b) { return a - b; });
        seen += " " + std::to_string(cutil::call_select(2, 3));
        cutil::register_handler("vt_unix_select", [](int a, int b) { return a + b; });
        seen += " " + std::to_string(cutil::call_select(2, 3));
        cutil::register_handler("vt_unix_select", [](int a, int b) { return a * b; });
        seen += " " + std::to_string(cutil::call_select(2, 3));
        return seen;
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.answer, "-1 -1 5 5");
    EXPECT_NE(r.err.find("call_select: no handler registered as vt_unix_select\n"), std::string::npos) << r.err;
}
