// The service's process-wide preparations, each in a forked child, and its socket utilities.
#include "cutil/process.hpp"
#include "cutil/sockets.hpp"
#include "cutil/syslog.hpp"
#include "support/console.hpp"
#include "support/sandbox.hpp"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <sstream>

using namespace vttest;
using namespace std::string_literals;

namespace {

// What a descriptor names, "closed" when none.
std::string target(int fd)
{
    std::error_code none;
    const auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), none);
    return none ? "closed" : path.string();
}

std::string open_above_standard()
{
    std::string open;
    for (int fd = 3; fd < 1024; ++fd)
        open += ::fcntl(fd, F_GETFD) < 0 ? "" : " " + std::to_string(fd);
    return open;
}

struct redirect_case {
    const char* label;
    std::string placed;           // a shell's line in the sandbox: what stands in out/
    int status;
    std::string streams;          // where 1 and 2 lead after, the working directory, the umask
    std::string tree;             // the sandbox after, beside out/
    void (*before)() = nullptr;   // in the child: a change of user or umask
    const char* reader = nullptr; // a FIFO the test holds open for reading
    int closed = 0;               // standard descriptors closed first, bit n for descriptor n
    const char* dir = "out";
};

// redirect_output(dir) from the sandbox's root, then a line on each stream, in a child.
void check(const redirect_case& c)
{
    SCOPED_TRACE(c.label);
    sandbox box;
    const std::string placed = "cd " + box.root() + " && mkdir -m 700 out && " + c.placed;
    ASSERT_EQ(std::system(placed.c_str()), 0);
    cutil::unique_fd reader(c.reader ? ::open((box.root() + c.reader).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1);
    const child_run r = run_in_child([&] {
        ::alarm(20); // a wait in open ends the child, not the test
        if (::chdir(box.root().c_str()) != 0)
            return std::string("no sandbox");
        if (c.before)
            c.before();
        for (int fd = 0; fd < 3; ++fd)
            if (c.closed & (1 << fd))
                ::close(fd);
        const std::string zero = target(0), earlier = open_above_standard();
        cutil::redirect_output(c.dir);
        std::string answer = target(1) + " " + target(2) + " " + std::filesystem::current_path().string() + " ";
        answer += (std::ostringstream() << std::oct << ::umask(0)).str();
        answer += target(0) == zero ? "" : " 0 moved";
        answer += open_above_standard() == earlier ? "" : " leaked";
        [[maybe_unused]] int rc = std::system("echo out; echo err >&2");
        return answer;
    });
    EXPECT_EQ(r.status, c.status);
    const std::string streams = std::regex_replace(r.answer, std::regex(box.root()), "~");
    EXPECT_EQ(c.status == 0 ? streams : "", c.streams);
    const auto lines = [](const std::string& text) { return std::regex_replace(text, std::regex("\n"), "|"); };
    EXPECT_EQ(tree(box.root(), lines), "out dir" + (c.tree.empty() ? "" : "; " + c.tree));
}

// The <PRI> of the datagram waiting on the socket, or -1 when none ending in `text` is there.
int next_priority(const cutil::unique_fd& sock, const std::string& text)
{
    char buf[2048];
    const ssize_t n = ::recv(sock.get(), buf, sizeof buf, MSG_DONTWAIT);
    const std::string d(buf, static_cast<std::size_t>(n > 0 ? n : 0));
    return d.starts_with('<') && d.ends_with(text) ? std::atoi(d.c_str() + 1) : -1;
}

struct scenario {
    const char* label;
    std::string (*run)();
    const char* outcome; // "status|answer|output|error", timed lines made constant
};

const scenario scenarios[] = {
    {"init_daemon: the parent exits 0, the child leads a session, output goes out once", [] {
         std::printf("pending before the fork\n");
         const pid_t parent = ::getpid();
         const int rc = cutil::init_daemon();
         const bool leads = ::getpid() != parent && ::getsid(0) == ::getpid();
         return std::to_string(rc) + (leads ? " leads" : " stays");
     }, "0|0 leads|pending before the fork\n|"},
    {"raise_priority refused to an ordinary user", [] {
         const rlimit none{0, 0};
         if (::setrlimit(RLIMIT_NICE, &none) == 0)
             become_nobody();
         return cutil::raise_priority();
     }, "0|Failed to raise priority||raise_priority: Permission denied\n"},
    {"raise_priority as root", [] {
         const std::string answer = cutil::raise_priority();
         return answer + " " + std::to_string(::getpriority(PRIO_PROCESS, 0));
     }, "0|SUCCESS -20||"},
    {"the select handler is found at the first call that can, and kept", [] {
         std::string seen = std::to_string(cutil::call_select(2, 3));
         cutil::register_handler("vt_unix_select", [](int a, int b) { return a + b; });
         seen += " " + std::to_string(cutil::call_select(2, 3));
         cutil::register_handler("vt_unix_select", [](int a, int b) { return a * b; });
         return seen + " " + std::to_string(cutil::call_select(2, 3));
     }, "0|-1 5 5||ERR (T):: call_select: no handler registered as vt_unix_select\n"},
    {"syslog: verbatim at the level's priority, after redirect_output as ours (daemon.err)", [] {
         const sandbox dev;
         cutil::unique_fd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
         sockaddr_un addr{AF_UNIX, "/dev/log"};
         if (!enter_namespace(dev.root(), "/dev").empty()
             || ::bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
             return std::string("no /dev/log of our own: ") + std::strerror(errno);
         ::closelog();
         const std::string text = "at 100% %s", pid = std::to_string(::getpid());
         cutil::vtsyslog(150, text);
         const int first = next_priority(sock, ": " + text);
         cutil::redirect_output("/dev");
         cutil::vtsyslog(450, text);
         const int second = next_priority(sock, " vanto[" + pid + "]: " + text);
         return std::to_string(first < 0 ? first : LOG_PRI(first)) + " " + std::to_string(second);
     }, "0|7 27||"},
};

} // namespace

TEST(RedirectOutput, BothStreamsEndInTheirFiles)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a device node and a change of user need root";
    const std::string files = "~/out/vtstdout ~/out/vtstderr ~/out 77";
    const std::string both = "out/vtstderr 600 err|; out/vtstdout 600 out|";
    for (int closed = 0; closed < 8; ++closed)
        check({"closed descriptors", "true", 0, files, both, nullptr, nullptr, closed});
    const std::string earlier = "echo an earlier run wrote more | tee out/vtstdout > out/vtstderr";
    const redirect_case cases[] = {
        {"longer files truncated, owner only", earlier + " && chmod 644 out/*", 0, files,
         both, [] { ::umask(0); }},
        {"missing directory", "true", 0, "~/vtstdout ~/vtstderr ~ 77",
         "vtstderr 600 err|; vtstdout 600 out|", {}, {}, 0, "missing"},
        {"vtstdout is a directory", "mkdir out/vtstdout", 5, "", "out/vtstderr 600; out/vtstdout dir"},
        {"vtstderr is a directory", "mkdir out/vtstderr", 6, "", "out/vtstderr dir; out/vtstdout 600"},
        {"unwritable directory", "chmod 755 out", 5, "", "", become_nobody},
        // A link or a FIFO is written through, without truncation, change of mode or wait.
        {"vtstdout links to a null device", "mknod -m 666 sink c 1 3 && ln -s ../sink out/vtstdout",
         0, "~/sink ~/out/vtstderr ~/out 77",
         "out/vtstderr 600 err|; out/vtstdout link; sink device 666"},
        {"vtstderr links to a file", "echo kept > t && chmod 644 t && ln -s ../t out/vtstderr", 0,
         "~/out/vtstdout ~/t ~/out 77", "out/vtstderr link; out/vtstdout 600 out|; t 644 kept|err|"},
        {"vtstdout a FIFO nobody reads", "mkfifo -m 644 out/vtstdout", 5, "",
         "out/vtstderr 600; out/vtstdout fifo 644"},
        {"vtstdout a FIFO read", "mkfifo -m 644 out/vtstdout", 0, files,
         "out/vtstderr 600 err|; out/vtstdout fifo 644", {}, "/out/vtstdout"},
    };
    for (const redirect_case& c : cases)
        check(c);
}

TEST(ProcessWide, Preparations)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a change of user, the top priority and a private /dev need root";
    for (const scenario& s : scenarios) {
        // A child the scenario leaves running is adopted and waited for by the one in between.
        const std::string outcome = run_in_child([&] {
            ::prctl(PR_SET_CHILD_SUBREAPER, 1);
            const child_run r = run_in_child(s.run);
            while (::wait(nullptr) > 0) {}
            return std::to_string(r.status) + "|" + r.answer + "|" + r.out + "|" + timeless(r.err);
        }).answer;
        EXPECT_EQ(outcome, s.outcome) << s.label;
    }
}

TEST(Sockets, SetOrAnsweredWithTheReason)
{
    const cutil::unique_fd s = cutil::unix_socket_dgram();
    const int kept = O_APPEND; // a status flag that making it non-blocking keeps
    ::fcntl(s.get(), F_SETFL, kept);
    std::string made = "made";
    try {
        cutil::vt_unix_socket(0x7ff);
    } catch (const cutil::unix_error& e) {
        made = std::to_string(e.code().value()) + " " + e.call() + " " + e.arg();
    }
    // A peer closed with data unread leaves a reset pending, read once.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const cutil::unique_fd reset(pair[0]);
    ASSERT_EQ(::write(pair[0], "x", 1), 1);
    ::close(pair[1]);
    constexpr int bad = -1;
    const std::string ebadf = std::strerror(EBADF);
    int value = -1;
    socklen_t len = sizeof value;
    const auto option = [&](int name) {
        return ::getsockopt(s.get(), SOL_SOCKET, name, &value, &len) == 0 ? value : -1;
    };
    const std::pair<std::string, std::string> answers[] = { // made in this order
        {made, std::to_string(EINVAL) + " socket "},
        {cutil::reuse_addr(s.get()), "SUCCESS"},
        {cutil::unblock_socket(s.get()), "SUCCESS"},
        {cutil::unblock_socket(s.get()), "SUCCESS"}, // already non-blocking
        {cutil::setsendbuf(s.get(), 65536), "SUCCESS"},
        {cutil::setsendbuf(s.get(), 0), "setsendbuf: SO_SNDBUF: "s + std::strerror(EINVAL)},
        {cutil::reuse_addr(bad), "reuse_addr: SO_REUSEADDR: " + ebadf},
        {cutil::unblock_socket(bad), "unblock_socket: F_GETFL: " + ebadf},
        {cutil::setsendbuf(bad, 1), "setsendbuf: SO_SNDBUF: " + ebadf},
        {std::to_string(cutil::getsockerr(bad)), std::to_string(EBADF)},
        {std::to_string(cutil::getsockerr(reset.get())), std::to_string(ECONNRESET)},
        {std::to_string(cutil::getsockerr(reset.get())), "0"},
        {std::to_string(option(SO_REUSEADDR)), "1"},
        {std::to_string(::fcntl(s.get(), F_GETFL) & (O_NONBLOCK | kept)), std::to_string(O_NONBLOCK | kept)},
        {std::to_string(option(SO_SNDBUF) >= 65536), "1"}, // the refused size left it alone
    };
    for (const auto& [got, expected] : answers)
        EXPECT_EQ(got, expected);
}
