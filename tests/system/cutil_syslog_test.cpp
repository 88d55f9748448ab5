// What actually reaches the syslog socket: a test-owned /dev/log in a private mount namespace.
#include "cutil/process.hpp"
#include "cutil/syslog.hpp"
#include "platform/unique_fd.hpp"
#include "support/child.hpp"

#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace {

// In the child: a fresh /dev holding only our datagram socket as /dev/log. Answers why not.
std::string own_dev_log(cutil::unique_fd& sock)
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("vtlogtest", "/dev", "tmpfs", 0, "mode=0755") != 0)
        return std::string("private /dev: ") + std::strerror(errno);
    sock.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{AF_UNIX, "/dev/log"};
    if (!sock || ::bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return std::string("bind /dev/log: ") + std::strerror(errno);
    ::closelog(); // whatever connection the process had goes to the host's logger
    return {};
}

// The <PRI> of the next datagram, or -1 when none came or it does not end in the text.
int next_priority(const cutil::unique_fd& sock, const std::string& text)
{
    pollfd p{sock.get(), POLLIN, 0};
    char buf[2048];
    const ssize_t n = ::poll(&p, 1, 2000) == 1 ? ::recv(sock.get(), buf, sizeof buf, 0) : -1;
    const std::string d = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    if (d.size() < 3 || d[0] != '<' || d.size() < text.size() || d.compare(d.size() - text.size(), text.size(), text) != 0)
        return -1;
    return std::atoi(d.c_str() + 1);
}

} // namespace

TEST(Syslog, LevelNumbersReachTheLoggerAtTheirPriorityAndStrayOnesStayInTheTable)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a private /dev/log needs root for its mount namespace";
    // The bounds of each table entry, then levels beyond the table up to the extremes.
    const std::vector<long> levels = {101, 150, 200, 299, 300, 399, 400, 450, 499, 100, LONG_MIN, 500, LONG_MAX};
    auto r = vttest::run_in_child([&] {
        cutil::unique_fd sock;
        if (std::string why = own_dev_log(sock); !why.empty())
            return why;
        std::string seen;
        for (long level : levels) {
            const std::string text = "level " + std::to_string(level) + " at 100% %s";
            cutil::vtsyslog(level, text);
            const int pri = next_priority(sock, text);
            seen += std::to_string(level) + ":" + std::to_string(pri < 0 ? pri : LOG_PRI(pri)) + "\n";
        }
        // Once redirect_output has run (its files go to the private /dev), messages carry the
        // product's identity and facility.
        cutil::redirect_output("/dev");
        cutil::vtsyslog(300, "after redirect");
        return seen + std::to_string(next_priority(sock, " vanto[" + std::to_string(::getpid()) + "]: after redirect"));
    });
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected;
    for (long level : levels) {
        int pri = level >= 400 ? LOG_ERR : level >= 300 ? LOG_WARNING : LOG_DEBUG;
        expected += std::to_string(level) + ":" + std::to_string(pri) + "\n";
    }
    EXPECT_EQ(r.answer, expected + std::to_string(LOG_DAEMON | LOG_WARNING));
}
