// The service's process and socket preparations, each in a forked child: redirected streams, the
// daemon's session, the priority, what reaches a test-owned /dev/log, socket options and closes.
#include "cutil/process.hpp"
#include "cutil/sockets.hpp"
#include "cutil/syslog.hpp"
#include "support/console.hpp"
#include "support/sandbox.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <regex>

using namespace vttest;

namespace {

// What a descriptor of this process names, "closed" when none.
std::string target(int fd)
{
    char path[PATH_MAX] = {};
    return ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1) < 0 ? "closed" : path;
}

// The descriptors above the standard ones, but for the listing's own.
std::string open_above_standard()
{
    std::vector<int> listed;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        listed.push_back(std::stoi(e.path().filename()));
    std::string open;
    for (int fd : listed)
        open += fd > 2 && target(fd) != "closed" ? " " + std::to_string(fd) : "";
    return open;
}

bool as_nobody() { return ::setgid(nobody) == 0 && ::setuid(nobody) == 0; }

// What stands at vtstdout or vtstderr before the run.
enum class placed { nothing, longer_file, directory, null_link, file_link, fifo, read_fifo };

struct redirect_case {
    const char* label;
    placed out, err;
    int status;
    std::string streams;       // where descriptors 1 and 2 lead after, and the working directory
    std::string tree;          // the sandbox after, beside the out directory
    bool (*before)() = nullptr; // in the child: a change of user or umask
    int closed = 0;            // standard descriptors closed first, bit n for descriptor n
    const char* dir = "out";
};

// redirect_output(dir) from the sandbox's root, then a shell's line on each stream, in a child.
void check(const redirect_case& c)
{
    SCOPED_TRACE(c.label);
    sandbox box;
    const std::string out = box.root() + "/out";
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    std::vector<cutil::unique_fd> readers;
    for (const auto& [what, path] : {std::pair{c.out, out + "/vtstdout"}, {c.err, out + "/vtstderr"}}) {
        const std::string linked = box.root() + (what == placed::null_link ? "/sink" : "/target");
        if (what == placed::longer_file)
            write_file(path, "an earlier run wrote a longer text\n", 0644);
        if (what == placed::directory)
            ::mkdir(path.c_str(), 0700);
        if (what == placed::null_link) // a null device of the test's own, so that no fault reaches the host's
            ::mknod(linked.c_str(), S_IFCHR, ::makedev(1, 3)), ::chmod(linked.c_str(), 0666);
        if (what == placed::file_link)
            write_file(linked, "kept\n", 0644);
        if (what == placed::null_link || what == placed::file_link)
            ::symlink(linked.c_str(), path.c_str());
        if (what == placed::fifo || what == placed::read_fifo)
            ::mkfifo(path.c_str(), 0644), ::chmod(path.c_str(), 0644);
        if (what == placed::read_fifo)
            readers.emplace_back(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }
    child_run r = run_in_child([&] {
        ::alarm(20); // a wait in open ends the child, not the test
        if (::chdir(box.root().c_str()) != 0 || (c.before && !c.before()))
            return std::string("not prepared");
        for (int fd = 0; fd < 3; ++fd)
            if (c.closed & (1 << fd))
                ::close(fd);
        const std::string zero = target(0), earlier = open_above_standard();
        cutil::redirect_output(c.dir);
        char mask[8];
        std::snprintf(mask, sizeof mask, " %o", ::umask(0));
        const std::string answer = target(1) + " " + target(2) + " " + std::filesystem::current_path().string() + mask
                                   + (target(0) == zero ? "" : " 0 moved") + (open_above_standard() == earlier ? "" : " leaked");
        [[maybe_unused]] int rc = std::system("echo out; echo err >&2");
        return answer;
    });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(c.status == 0 ? std::regex_replace(r.answer, std::regex(box.root()), "~") : "", c.streams);
    for (auto& reader : readers) {
        char buf[64] = {};
        EXPECT_EQ(std::string(::read(reader.get(), buf, sizeof buf - 1) > 0 ? buf : ""), c.out == placed::read_fifo ? "out\n" : "err\n");
    }
    const std::string after = tree(box.root(), [](std::string text) { return std::ranges::replace(text, '\n', '|'), text; });
    EXPECT_EQ(after, "out dir" + (c.tree.empty() ? "" : "; " + c.tree));
}

// The <PRI> of the next datagram, or -1 when none came or it does not end in the text.
int next_priority(const cutil::unique_fd& sock, const std::string& text)
{
    pollfd p{sock.get(), POLLIN, 0};
    char buf[2048];
    const ssize_t n = ::poll(&p, 1, 2000) == 1 ? ::recv(sock.get(), buf, sizeof buf, 0) : -1;
    const std::string d = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
    return d.starts_with('<') && d.ends_with(text) ? std::atoi(d.c_str() + 1) : -1;
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

TEST(RedirectOutput, BothStreamsEndInTheirFilesWhateverStoodThereOrWasClosed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a device node of the test's own needs root";
    using enum placed;
    const std::string files = "~/out/vtstdout ~/out/vtstderr ~/out 77", both = "out/vtstderr 600 err|; out/vtstdout 600 out|";
    std::vector<redirect_case> cases;
    for (int closed = 0; closed < 8; ++closed)
        cases.push_back({"closed descriptors", nothing, nothing, 0, files, both, nullptr, closed});
    cases.insert(cases.end(), {
        {"longer file truncated, owner only", longer_file, longer_file, 0, files, both, [] { return ::umask(0), true; }},
        {"missing directory", nothing, nothing, 0, "~/vtstdout ~/vtstderr ~ 77", "vtstderr 600 err|; vtstdout 600 out|", {}, 0, "missing"},
        {"vtstdout is a directory", directory, nothing, 5, "", "out/vtstderr 600; out/vtstdout dir"},
        {"vtstderr is a directory", nothing, directory, 6, "", "out/vtstderr dir; out/vtstdout 600"},
        {"unwritable directory", nothing, nothing, 5, "", "", [] { return ::chmod("out", 0755) == 0 && as_nobody(); }},
        // A link or a FIFO is written through, without truncation, change of mode or wait.
        {"vtstdout links to a null device", null_link, nothing, 0, "~/sink ~/out/vtstderr ~/out 77", "out/vtstderr 600 err|; out/vtstdout link; sink device 666"},
        {"vtstderr links to a null device", nothing, null_link, 0, "~/out/vtstdout ~/sink ~/out 77", "out/vtstderr link; out/vtstdout 600 out|; sink device 666"},
        {"vtstdout links to a file", file_link, nothing, 0, "~/target ~/out/vtstderr ~/out 77", "out/vtstderr 600 err|; out/vtstdout link; target 644 kept|out|"},
        {"vtstderr links to a file", nothing, file_link, 0, "~/out/vtstdout ~/target ~/out 77", "out/vtstderr link; out/vtstdout 600 out|; target 644 kept|err|"},
        {"vtstdout a FIFO nobody reads", fifo, nothing, 5, "", "out/vtstderr 600; out/vtstdout fifo 644"},
        {"vtstderr a FIFO nobody reads", nothing, fifo, 6, "", "out/vtstderr fifo 644; out/vtstdout 600"},
        {"vtstdout a FIFO read", read_fifo, nothing, 0, files, "out/vtstderr 600 err|; out/vtstdout fifo 644"},
        {"vtstderr a FIFO read", nothing, read_fifo, 0, files, "out/vtstderr fifo 644; out/vtstdout 600 out|"},
    });
    for (const redirect_case& c : cases)
        check(c);
}

TEST(InitDaemon, ParentExitsZeroAndTheChildLeadsANewSession)
{
    // The orphaned daemon is adopted here, to be reaped here and not by the host's init.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    auto r = run_in_child([] {
        std::printf("pending before the fork\n");
        const int rc = cutil::init_daemon();
        return std::to_string(rc) + " " + std::to_string(::getpid()) + " " + std::to_string(::getsid(0));
    });
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    int rc = -1, pid = -1, sid = -1;
    ASSERT_EQ(std::sscanf(r.answer.c_str(), "%d %d %d", &rc, &pid, &sid), 3) << r.answer;
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(std::to_string(r.status) + " " + std::to_string(rc) + " " + std::to_string(sid == pid && pid != r.pid), "0 0 1");
    EXPECT_EQ(r.out, "pending before the fork\n"); // once, not once per process
}

TEST(RaisePriority, AnOrdinaryUserIsRefusedWithThePerrorLineAndRootGetsTheHighest)
{
    auto refused = run_in_child([] {
        const rlimit none{0, 0};
        return ::geteuid() == 0 && (::setrlimit(RLIMIT_NICE, &none) != 0 || !as_nobody()) ? "not nobody" : cutil::raise_priority();
    });
    EXPECT_EQ(refused.answer + "|" + refused.err, "Failed to raise priority|raise_priority: Permission denied\n");
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may lower its nice value";
    auto raised = run_in_child([] {
        const std::string answer = cutil::raise_priority();
        return answer + " " + std::to_string(::getpriority(PRIO_PROCESS, 0));
    });
    EXPECT_EQ(raised.answer + "|" + raised.err, "SUCCESS -20|");
}

TEST(Syslog, LevelNumbersReachTheLoggerAtTheirPriorityAndStrayOnesStayInTheTable)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a private /dev needs root for its mount namespace";
    // The bounds of each table entry, then levels beyond the table up to the extremes.
    const std::pair<long, int> levels[] = {{101, LOG_DEBUG}, {150, LOG_DEBUG}, {200, LOG_DEBUG}, {299, LOG_DEBUG},
        {300, LOG_WARNING}, {399, LOG_WARNING}, {400, LOG_ERR}, {450, LOG_ERR}, {499, LOG_ERR}, {100, LOG_DEBUG},
        {LONG_MIN, LOG_DEBUG}, {500, LOG_ERR}, {LONG_MAX, LOG_ERR}};
    auto r = run_in_child([&] {
        // A fresh /dev holding only our datagram socket as /dev/log; the old connection goes.
        cutil::unique_fd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_un addr{AF_UNIX, "/dev/log"};
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("vtlogtest", "/dev", "tmpfs", 0, "mode=0755") != 0
            || ::bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return std::string("no /dev/log of our own: ") + std::strerror(errno);
        ::closelog();
        std::string seen;
        for (auto [level, _] : levels) {
            const std::string text = "level " + std::to_string(level) + " at 100% %s";
            cutil::vtsyslog(level, text);
            const int pri = next_priority(sock, text);
            seen += std::to_string(level) + ":" + std::to_string(pri < 0 ? pri : LOG_PRI(pri)) + " ";
        }
        // After redirect_output (its files go to the private /dev) messages carry our identity.
        cutil::redirect_output("/dev");
        cutil::vtsyslog(300, "after redirect");
        return seen + std::to_string(next_priority(sock, " vanto[" + std::to_string(::getpid()) + "]: after redirect"));
    });
    std::string expected;
    for (auto [level, priority] : levels)
        expected += std::to_string(level) + ":" + std::to_string(priority) + " ";
    EXPECT_EQ(r.answer, expected + std::to_string(LOG_DAEMON | LOG_WARNING)) << r.err;
}

TEST(Sockets, SetAsAskedOrAnsweredWithTheComposedReason)
{
    cutil::unique_fd s = cutil::unix_socket_dgram();
    std::string made;
    try {
        cutil::vt_unix_socket(0x7ff);
    } catch (const cutil::unix_error& e) {
        made = std::to_string(e.code().value()) + " " + e.call() + " " + e.arg();
    }
    EXPECT_EQ(made, std::to_string(EINVAL) + " socket ");
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
        {std::to_string(cutil::getsockerr(bad)), std::to_string(EBADF)},
    };
    for (const auto& [got, expected] : answers)
        EXPECT_EQ(got, expected);
    int reuse = 0, sndbuf = 0;
    socklen_t len = sizeof reuse;
    ::getsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, &len);
    ::getsockopt(s.get(), SOL_SOCKET, SO_SNDBUF, &sndbuf, &len);
    EXPECT_TRUE(reuse == 1 && (::fcntl(s.get(), F_GETFL) & O_NONBLOCK) && sndbuf >= 65536); // the refused size left it alone
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
    auto r = run_in_child([] {
        std::string seen = std::to_string(cutil::call_select(2, 3));
        cutil::register_handler("vt_unix_select", [](int a, int b) { return a + b; });
        seen += " " + std::to_string(cutil::call_select(2, 3));
        cutil::register_handler("vt_unix_select", [](int a, int b) { return a * b; });
        return seen + " " + std::to_string(cutil::call_select(2, 3));
    });
    EXPECT_EQ(r.answer + "|" + timeless(r.err), "-1 5 5|ERR (T):: call_select: no handler registered as vt_unix_select\n");
}
