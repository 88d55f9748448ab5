// Process-wide preparations of the service, each in a forked child: the redirected streams, the
// daemon's session, the priority, and what reaches the syslog socket (a test-owned /dev/log).
#include "cutil/process.hpp"
#include "cutil/syslog.hpp"
#include "platform/unique_fd.hpp"
#include "support/sandbox_fixture.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>

namespace fs = std::filesystem;
using namespace vttest;

namespace {

// What a descriptor of this process names, with " cloexec" when it does not survive an exec.
std::string descriptor(int fd)
{
    char target[PATH_MAX] = {};
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0 || ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1) < 0)
        return "closed";
    return std::string(target) + (flags & FD_CLOEXEC ? " cloexec" : "");
}

std::set<int> open_descriptors()
{
    std::set<int> fds;
    for (const auto& e : fs::directory_iterator("/proc/self/fd"))
        fds.insert(std::stoi(e.path().filename()));
    return fds;
}

// What stands at vtstdout or vtstderr before the run.
enum class placed { nothing, longer_file, directory, null_link, file_link, fifo, read_fifo };

struct redirect_case {
    const char* label;
    placed out, err;
    int closed;                   // standard descriptors closed first, bit n for descriptor n
    std::function<bool()> before; // in the child: a change of user, directory or umask
    int status;
    std::string answer;           // descriptors, working directory and umask after: see check()
    std::string tree;             // the sandbox after, "~" for its root
    const char* dir = "out";      // the directory named, relative to the sandbox
};

// Runs redirect_output(dir) from the sandbox's root, then a shell's line on each stream, in a
// child inside a private mount namespace that sees the test's own null device at /dev/null.
void check(const redirect_case& c)
{
    SCOPED_TRACE(c.label);
    sandbox box;
    const std::string dir = box.root() + "/out", null_node = box.root() + "/null", kept = box.root() + "/kept";
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(::mknod(null_node.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
    ::chmod(null_node.c_str(), 0666);
    write_file(kept, "kept\n", 0644);
    std::vector<cutil::unique_fd> readers;
    for (const auto& [what, name] : {std::pair{c.out, "/vtstdout"}, {c.err, "/vtstderr"}}) {
        const std::string path = dir + name;
        if (what == placed::longer_file)
            write_file(path, "an earlier run wrote a longer text\n", 0644);
        if (what == placed::directory)
            ::mkdir(path.c_str(), 0700);
        if (what == placed::null_link || what == placed::file_link)
            ::symlink(what == placed::null_link ? "/dev/null" : kept.c_str(), path.c_str());
        if (what == placed::fifo || what == placed::read_fifo)
            ::mkfifo(path.c_str(), 0644), ::chmod(path.c_str(), 0644);
        if (what == placed::read_fifo)
            readers.emplace_back(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }
    child_run r = box.run_inside([&] {
        ::alarm(20); // a wait in open ends the child, not the test
        if (::mount(null_node.c_str(), "/dev/null", nullptr, MS_BIND, nullptr) != 0 || ::chdir(box.root().c_str()) != 0
            || (c.before && !c.before()))
            return std::string("not prepared");
        for (int fd = 0; fd < 3; ++fd)
            if (c.closed & (1 << fd))
                ::close(fd);
        const std::string zero = descriptor(0);
        const std::set<int> earlier = open_descriptors();
        cutil::redirect_output(c.dir);
        std::string answer = "0 " + (descriptor(0) == zero ? std::string("kept") : descriptor(0)) + "|1 " + descriptor(1)
                             + "|2 " + descriptor(2) + "|new";
        for (int fd : open_descriptors())
            if (fd > 2 && !earlier.count(fd) && descriptor(fd) != "closed")
                answer += " " + std::to_string(fd);
        char cwd[PATH_MAX], mask[8];
        std::snprintf(mask, sizeof mask, " %o", ::umask(0));
        answer += "|" + std::string(::getcwd(cwd, sizeof cwd) ? cwd : "") + mask;
        [[maybe_unused]] int rc = std::system("echo out; echo err >&2");
        return answer;
    });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(c.status == 0 ? std::regex_replace(r.answer, std::regex(box.root()), "~") : "", c.answer);
    for (auto& reader : readers) {
        char buf[64] = {};
        EXPECT_EQ(std::string(buf, std::max<ssize_t>(0, ::read(reader.get(), buf, sizeof buf))), c.out == placed::read_fifo ? "out\n" : "err\n");
    }
    EXPECT_EQ(tree(box.root(), [](const std::string& text) { return std::regex_replace(text, std::regex("\n"), "|"); }), c.tree);
}

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

bool as_nobody() { return ::setgid(nobody) == 0 && ::setuid(nobody) == 0; }

class RedirectOutput : public sandbox_test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "a device node of the test's own needs root";
        sandbox_test::SetUp();
    }
};

} // namespace

TEST_F(RedirectOutput, BothStreamsEndInTheirFilesWhateverStoodThereOrWasClosed)
{
    using enum placed;
    const std::string base = "kept 644 kept|; null device 666; out dir; out/", both = base + "vtstderr 600 err|; out/vtstdout 600 out|";
    const auto moved = [](const char* out, const char* err) {
        return std::string("0 kept|1 ") + out + "|2 " + err + "|new|~/out 77";
    };
    const std::string files = moved("~/out/vtstdout", "~/out/vtstderr");
    std::vector<redirect_case> cases;
    for (int closed = 0; closed < 8; ++closed)
        cases.push_back({"closed descriptors", nothing, nothing, closed, {}, 0, files, both});
    cases.insert(cases.end(), {
        {"longer file truncated, owner only", longer_file, longer_file, 0, [] { ::umask(0); return true; }, 0, files, both},
        // A directory that cannot be entered leaves the files in the current one.
        {"missing directory", nothing, nothing, 0, {}, 0, "0 kept|1 ~/vtstdout|2 ~/vtstderr|new|~ 77",
         "kept 644 kept|; null device 666; out dir; vtstderr 600 err|; vtstdout 600 out|", "missing"},
        {"vtstdout is a directory", directory, nothing, 0, {}, 5, "", base + "vtstderr 600; out/vtstdout dir"},
        {"vtstderr is a directory", nothing, directory, 0, {}, 6, "", base + "vtstderr dir; out/vtstdout 600"},
        {"unwritable directory", nothing, nothing, 0, [] { return ::chmod("out", 0755) == 0 && as_nobody(); }, 5, "",
         "kept 644 kept|; null device 666; out dir"},
        // A link or a FIFO is written through, without truncation, change of mode or wait.
        {"vtstdout links to /dev/null", null_link, nothing, 0, {}, 0, moved("/dev/null", "~/out/vtstderr"),
         base + "vtstderr 600 err|; out/vtstdout link"},
        {"vtstderr links to /dev/null", nothing, null_link, 0, {}, 0, moved("~/out/vtstdout", "/dev/null"),
         base + "vtstderr link; out/vtstdout 600 out|"},
        {"vtstdout links to a file", file_link, nothing, 0, {}, 0, moved("~/kept", "~/out/vtstderr"),
         "kept 644 kept|out|; null device 666; out dir; out/vtstderr 600 err|; out/vtstdout link"},
        {"vtstderr links to a file", nothing, file_link, 0, {}, 0, moved("~/out/vtstdout", "~/kept"),
         "kept 644 kept|err|; null device 666; out dir; out/vtstderr link; out/vtstdout 600 out|"},
        {"vtstdout a FIFO nobody reads", fifo, nothing, 0, {}, 5, "", base + "vtstderr 600; out/vtstdout fifo 644"},
        {"vtstderr a FIFO nobody reads", nothing, fifo, 0, {}, 6, "", base + "vtstderr fifo 644; out/vtstdout 600"},
        {"vtstdout a FIFO read", read_fifo, nothing, 0, {}, 0, files, base + "vtstderr 600 err|; out/vtstdout fifo 644"},
        {"vtstderr a FIFO read", nothing, read_fifo, 0, {}, 0, files, base + "vtstderr fifo 644; out/vtstdout 600 out|"},
    });
    for (const redirect_case& c : cases)
        check(c);
}

TEST(InitDaemon, ParentExitsZeroAndTheChildLeadsANewSession)
{
    // Adopt the orphaned daemon so that it is reaped here, not left to the host's init.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    auto r = run_in_child([] {
        std::printf("pending before the fork\n");
        int rc = cutil::init_daemon();
        return std::to_string(rc) + " " + std::to_string(::getpid()) + " " + std::to_string(::getsid(0));
    });
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    int rc = -1, pid = -1, sid = -1;
    ASSERT_EQ(std::sscanf(r.answer.c_str(), "%d %d %d", &rc, &pid, &sid), 3) << r.answer;
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(pid, r.pid);
    EXPECT_EQ(sid, pid);
    EXPECT_EQ(r.out, "pending before the fork\n"); // once, not once per process
}

TEST(RaisePriority, AnOrdinaryUserIsRefusedWithThePerrorLineAndRootGetsTheHighest)
{
    auto refused = run_in_child([] {
        rlimit none{0, 0};
        if (::geteuid() == 0 && (::setrlimit(RLIMIT_NICE, &none) != 0 || !as_nobody()))
            return std::string("cannot drop privileges");
        return cutil::raise_priority();
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
