// The socket utilities on real sockets.
#include "cutil/sockets.hpp"
#include "support/child.hpp"

#include <fcntl.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

int sock_option(int fd, int option)
{
    int value = -1;
    socklen_t len = sizeof value;
    ::getsockopt(fd, SOL_SOCKET, option, &value, &len);
    return value;
}

// A descriptor number may be taken from a socket someone holds, never from a temporary owner that
// closes it at the end of the statement: that number may already name another file.
template <class S> concept gives_its_number = requires(S&& s) { cutil::int_socket(std::forward<S>(s)); };
template <class S> concept can_be_closed = requires(S&& s) { cutil::vt_close_socket(std::forward<S>(s)); };
static_assert(gives_its_number<cutil::unique_fd&> && gives_its_number<const cutil::unique_fd&> && gives_its_number<int>);
static_assert(!gives_its_number<cutil::unique_fd> && !gives_its_number<const cutil::unique_fd>);
static_assert(can_be_closed<cutil::unique_fd&> && can_be_closed<int>);
static_assert(!can_be_closed<cutil::unique_fd> && !can_be_closed<const cutil::unique_fd&>);

} // namespace

TEST(Sockets, SetAsAskedOrAnsweredWithTheComposedReason)
{
    cutil::unique_fd s = cutil::unix_socket_dgram();
    ASSERT_TRUE(s);
    try {
        cutil::vt_unix_socket(0x7ff);
        ADD_FAILURE() << "a type the kernel does not know made a socket";
    } catch (const cutil::unix_error& e) {
        EXPECT_EQ(std::to_string(e.code().value()) + " " + e.call() + " " + e.arg(), std::to_string(EINVAL) + " socket ");
    }
    const int bad = ::dup(0);
    ::close(bad); // a number that names nothing open
    const std::string ebadf = std::strerror(EBADF);
    const std::pair<std::string, std::string> answers[] = {
        {cutil::reuse_addr(s.get()), "SUCCESS"},
        {cutil::unblock_socket(s.get()), "SUCCESS"},
        {cutil::unblock_socket(s.get()), "SUCCESS"}, // already non-blocking
        {cutil::setsendbuf(s.get(), 65536), "SUCCESS"},
        {cutil::setsendbuf(s.get(), 0), std::string("setsendbuf: SO_SNDBUF: ") + std::strerror(EINVAL)},
        {cutil::reuse_addr(bad), "reuse_addr: SO_REUSEADDR: " + ebadf},
        {cutil::unblock_socket(bad), "unblock_socket: F_GETFL: " + ebadf},
        {cutil::setsendbuf(bad, 1), "setsendbuf: SO_SNDBUF: " + ebadf},
    };
    for (const auto& [got, expected] : answers)
        EXPECT_EQ(got, expected);
    EXPECT_EQ(sock_option(s.get(), SO_REUSEADDR), 1);
    EXPECT_TRUE(::fcntl(s.get(), F_GETFL) & O_NONBLOCK);
    EXPECT_GE(sock_option(s.get(), SO_SNDBUF), 65536); // the refused size left it alone
    EXPECT_EQ(cutil::getsockerr(bad), EBADF);
}

TEST(Sockets, CloseReleasesOnceAndNeverTouchesALaterDescriptor)
{
    cutil::unique_fd s = cutil::unix_socket_stream();
    const int number = s.get();
    cutil::vt_close_socket(s);
    EXPECT_EQ(::fcntl(number, F_GETFD), -1);
    cutil::unique_fd reused(::dup(0)); // the number is handed out again
    ASSERT_EQ(reused.get(), number);
    cutil::vt_close_socket(s);
    EXPECT_NE(::fcntl(reused.get(), F_GETFD), -1);
}

TEST(SelectHandler, LookedUpAtTheFirstCallThatFindsItAndKept)
{
    // The handler reference is process-wide, so the sequence runs in a child of its own.
    auto r = vttest::run_in_child([] {
        std::string seen = std::to_string(cutil::call_select(2, 3));
        cutil::register_handler("vt_unix_select", [](int a, int b) { return a + b; });
        seen += " " + std::to_string(cutil::call_select(2, 3));
        cutil::register_handler("vt_unix_select", [](int a, int b) { return a * b; });
        return seen + " " + std::to_string(cutil::call_select(2, 3));
    });
    EXPECT_EQ(r.answer, "-1 5 5");
    EXPECT_NE(r.err.find("call_select: no handler registered as vt_unix_select\n"), std::string::npos) << r.err;
}
