// The process-wide preparations, each in a child, and the socket utilities.
#include "cutil/process.hpp"
#include "cutil/sockets.hpp"
#include "cutil/syslog.hpp"
#include "support/console.hpp"
#include "support/sandbox.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>

using namespace cutil;
using namespace vttest;
namespace fs = std::filesystem;

namespace {

struct redirect_case {
    std::string placed; // run in the sandbox first
    int status;
    std::string streams; // where 1 and 2 lead, the working directory
    std::string tree;    // the sandbox after, beside out/
    bool read_fifo = false; // a reader holds out/vtstdout
    int closed = 0;         // bit n: descriptor n closed first
    const char* dir = "out";
};

// redirect_output from the sandbox's root, then a line on each stream.
void check(const redirect_case& c)
{
    SCOPED_TRACE(c.placed + " " + std::to_string(c.closed));
    sandbox box;
    const std::string root = box.root();
    ASSERT_EQ(std::system(("cd " + root + " && mkdir -m 700 out && " + c.placed).c_str()), 0);
    const std::string out = root + "/out/vtstdout";
    unique_fd reader(c.read_fifo ? ::open(out.c_str(), O_RDONLY | O_NONBLOCK) : -1);
    const child_run r = run_in_child([&] {
        const auto target = [](int fd) {
            std::error_code none;
            const auto path = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), none);
            return none ? std::string("closed") : path.string();
        };
        ::alarm(20); // a wait in open ends the child, not the test
        fs::current_path(root);
        ::umask(0); // for redirect_output to tighten
        for (int fd = 0; fd < 3; ++fd)
            if (c.closed & (1 << fd))
                ::close(fd);
        const std::string zero = target(0);
        redirect_output(c.dir);
        std::string answer = target(1) + " " + target(2) + " ";
        answer += fs::current_path().string();
        answer += ::umask(0) == 077 ? "" : " umask kept";
        answer += target(0) == zero ? "" : " 0 moved";
        [[maybe_unused]] int rc = std::system("echo out; echo err >&2");
        return answer;
    });
    EXPECT_EQ(r.status, c.status);
    const std::string streams = std::regex_replace(r.answer, std::regex(root), "~");
    EXPECT_EQ(c.status == 0 ? streams : "", c.streams);
    EXPECT_EQ(tree(root, [](const std::string& b) { return b; }), "out dir; " + c.tree);
}

// Each run in a child, then "status|answer|output|error".
const std::pair<std::string (*)(), const char*> scenarios[] = {
    {[] {
         std::printf("before fork\n");
         const pid_t parent = ::getpid();
         const int rc = init_daemon();
         const bool leads = ::getpid() != parent && ::getsid(0) == ::getpid();
         return std::to_string(rc) + (leads ? " leads" : " stays");
     }, "0|0 leads|before fork\n|"},
    {[] { // as a user
         const rlimit none{0, 0};
         if (::setrlimit(RLIMIT_NICE, &none) == 0)
             become_nobody();
         return raise_priority();
     }, "0|Failed to raise priority||raise_priority: Permission denied\n"},
    {[] {
         const std::string answer = raise_priority();
         return answer + " " + std::to_string(::getpriority(PRIO_PROCESS, 0));
     }, "0|SUCCESS -20||"},
    {[] {
         std::string seen = std::to_string(call_select(2, 3));
         register_handler("vt_unix_select", [](int a, int b) { return a + b; });
         seen += " " + std::to_string(call_select(2, 3));
         register_handler("vt_unix_select", [](int a, int b) { return a * b; });
         return seen + " " + std::to_string(call_select(2, 3));
     }, "0|-1 5 5||ERR (T):: call_select: no handler registered as vt_unix_select\n"},
    {[] {
         const sandbox dev;
         unique_fd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
         sockaddr_un addr{AF_UNIX, "/dev/log"};
         if (!enter_namespace(dev.root(), "/dev").empty()
             || ::bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
             return std::string("no /dev/log: ") + std::strerror(errno);
         ::closelog();
         redirect_output("/dev");
         const std::string text = "at 100% %s", pid = std::to_string(::getpid());
         vtsyslog(450, text);
         char buf[2048];
         const ssize_t n = ::recv(sock.get(), buf, sizeof buf, MSG_DONTWAIT);
         const std::string d(buf, static_cast<std::size_t>(n > 0 ? n : 0));
         const bool ours = d.ends_with(" vanto[" + pid + "]: " + text);
         return ours ? d.substr(0, d.find('>') + 1) : "not ours: " + d;
     }, "0|<27>||"},
};

} // namespace

TEST(RedirectOutput, BothStreamsEndInTheirFiles)
{
    const std::string files = "~/out/vtstdout ~/out/vtstderr ~/out";
    const std::string both = "out/vtstderr 600 err\n; out/vtstdout 600 out\n";
    for (int closed = 0; closed < 8; ++closed)
        check({"true", 0, files, both, false, closed});
    const std::string fifo = "mkfifo -m 644 out/vtstdout";
    // Links and FIFOs are written through: no truncation, change of mode or wait.
    const redirect_case cases[] = {
        {"echo 12345 | tee out/vtstdout >out/vtstderr; chmod 644 out/*", 0, files, both},
        {"true", 0, "~/vtstdout ~/vtstderr ~", "vtstderr 600 err\n; vtstdout 600 out\n", false,
         0, "no"},
        {"mkdir out/vtstdout", 5, "", "out/vtstderr 600; out/vtstdout dir"},
        {"mkdir out/vtstderr", 6, "", "out/vtstderr dir; out/vtstdout 600"},
        {"echo kept >t && chmod 644 t && ln -s ../t out/vtstderr", 0, "~/out/vtstdout ~/t ~/out",
         "out/vtstderr link; out/vtstdout 600 out\n; t 644 kept\nerr\n"},
        {fifo, 5, "", "out/vtstderr 600; out/vtstdout fifo 644"},
        {fifo, 0, files, "out/vtstderr 600 err\n; out/vtstdout fifo 644", true},
    };
    for (const redirect_case& c : cases)
        check(c);
}

TEST(ProcessWide, Preparations)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a change of user, priority -20 and a private /dev need root";
    for (const auto& [run, outcome] : scenarios) {
        // The answer waits for every process the scenario made.
        const child_run r = run_in_child(run);
        const std::string got = std::to_string(r.status) + "|" + r.answer + "|" + r.out + "|";
        EXPECT_EQ(got + timeless(r.err), outcome);
    }
}

TEST(Sockets, SetOrAnsweredWithTheReason)
{
    const unique_fd s = unix_socket_dgram();
    ::fcntl(s.get(), F_SETFL, O_APPEND); // a flag that going non-blocking keeps
    std::string made;
    try {
        vt_unix_socket(0x7ff);
    } catch (const unix_error& e) {
        made = std::to_string(e.code().value()) + " " + e.call() + " " + e.arg();
    }
    // A peer closed with data unread leaves a reset pending.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const unique_fd reset(pair[0]);
    ASSERT_EQ(::write(pair[0], "x", 1), 1);
    ::close(pair[1]);
    const std::string ebadf = std::strerror(EBADF), einval = std::strerror(EINVAL);
    int value = -1;
    socklen_t len = sizeof value;
    const auto option = [&](int name) {
        return ::getsockopt(s.get(), SOL_SOCKET, name, &value, &len) == 0 ? value : -1;
    };
    const auto str = [](long n) { return std::to_string(n); };
    const std::pair<std::string, std::string> answers[] = { // made in this order
        {made, str(EINVAL) + " socket "},
        {reuse_addr(s.get()), "SUCCESS"},
        {unblock_socket(s.get()), "SUCCESS"},
        {setsendbuf(s.get(), 65536), "SUCCESS"},
        {setsendbuf(s.get(), 0), "setsendbuf: SO_SNDBUF: " + einval},
        {reuse_addr(-1), "reuse_addr: SO_REUSEADDR: " + ebadf},
        {unblock_socket(-1), "unblock_socket: F_GETFL: " + ebadf},
        {setsendbuf(-1, 1), "setsendbuf: SO_SNDBUF: " + ebadf},
        {str(getsockerr(-1)), str(EBADF)},
        {str(getsockerr(reset.get())), str(ECONNRESET)},
        {str(option(SO_REUSEADDR)), "1"},
        {str(::fcntl(s.get(), F_GETFL) & (O_NONBLOCK | O_APPEND)), str(O_NONBLOCK | O_APPEND)},
        {str(option(SO_SNDBUF) >= 65536), "1"}, // the refused size left it alone
    };
    for (const auto& [got, expected] : answers)
        EXPECT_EQ(got, expected);
}
