// What actually reaches the syslog socket: a test-owned /dev/log in a private mount namespace.
#include "cutil/process.hpp"
#include "cutil/syslog.hpp"
#include "cutil/unique_fd.hpp"
#include "support/child.hpp"
#include "support/sandbox.hpp"

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
#include <filesystem>
#include <vector>

namespace {

// In the child: a fresh /dev holding only our datagram socket as /dev/log.
std::string own_dev_log(cutil::unique_fd& sock)
{
    if (::unshare(CLONE_NEWNS) != 0)
        return std::string("unshare: ") + std::strerror(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("mount private: ") + std::strerror(errno);
    if (::mount("vtlogtest", "/dev", "tmpfs", 0, "mode=0755") != 0)
        return std::string("mount tmpfs: ") + std::strerror(errno);
    sock.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/dev/log");
    if (!sock || ::bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return std::string("bind /dev/log: ") + std::strerror(errno);
    ::closelog(); // whatever connection the process had goes to the host's logger
    return {};
}

// One datagram, or empty when none came.
std::string next_datagram(const cutil::unique_fd& sock)
{
    pollfd p{sock.get(), POLLIN, 0};
    if (::poll(&p, 1, 2000) != 1)
        return {};
    char buf[2048];
    ssize_t n = ::recv(sock.get(), buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// The <PRI> number at the start of a datagram, or -1.
int pri_of(const std::string& datagram)
{
    if (datagram.size() < 3 || datagram[0] != '<')
        return -1;
    return std::atoi(datagram.c_str() + 1);
}

bool ends_with(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

TEST(Syslog, LevelNumbersReachTheLoggerAtTheirPriorityAndStrayOnesStayInTheTable)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a private /dev/log needs root for its mount namespace";
    const std::vector<long> levels = {150, 200, 299, 300, 399, 400, 450, 499,
                                      101, 100, 0, -250, LONG_MIN, 500, 600, 100000, LONG_MAX};
    char tmpl[] = "/tmp/vtsyslog.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string out_dir = tmpl;
    auto r = vttest::run_in_child([&] {
        cutil::unique_fd sock;
        if (std::string why = own_dev_log(sock); !why.empty())
            return why;
        std::string seen;
        for (long level : levels) {
            const std::string text = "level " + std::to_string(level) + " at 100% %s";
            cutil::vtsyslog(level, text);
            std::string d = next_datagram(sock);
            seen += std::to_string(level) + ":" + std::to_string(pri_of(d) & 7) + (ends_with(d, text) ? "" : " garbled") + "\n";
        }
        // Once redirect_output has run, messages carry the product's identity and facility.
        cutil::redirect_output(out_dir);
        cutil::vtsyslog(300, "after redirect");
        std::string d = next_datagram(sock);
        seen += std::to_string(pri_of(d)) + (d.find(" vanto[" + std::to_string(::getpid()) + "]: after redirect") != std::string::npos ? " vanto" : " unnamed: " + d);
        return seen;
    });
    const std::string child_err = vttest::read_file(out_dir + "/vtstderr");
    std::filesystem::remove_all(out_dir);
    ASSERT_EQ(r.status, 0) << r.err << child_err;
    std::string expected;
    for (long level : levels) {
        int pri = level >= 400 ? LOG_ERR : level >= 300 ? LOG_WARNING : LOG_DEBUG;
        expected += std::to_string(level) + ":" + std::to_string(pri) + "\n";
    }
    expected += std::to_string(LOG_DAEMON | LOG_WARNING) + " vanto";
    EXPECT_EQ(r.answer, expected);
}
