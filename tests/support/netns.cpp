#include "support/netns.hpp"

#include "cutil/unique_fd.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

namespace vttest {

namespace {

bool shell(const std::string& command)
{
    std::string quiet = command + " >/dev/null 2>&1";
    return std::system(quiet.c_str()) == 0;
}

bool enter(const std::string& ns)
{
    cutil::unique_fd fd(::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC));
    return fd && ::setns(fd.get(), CLONE_NEWNET) == 0;
}

void write_all(int fd, const std::string& s)
{
    for (std::size_t done = 0; done < s.size();) {
        ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

int wait_child(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

} // namespace

std::string netns_unavailable()
{
    if (::geteuid() != 0)
        return "network namespaces need root";
    if (!shell("ip -V"))
        return "the ip command (iproute2) is not installed";
    return {};
}

netns_pair::netns_pair()
{
    static std::atomic<int> counter{0};
    std::string tag = "vt4t" + std::to_string(::getpid()) + "n" + std::to_string(counter++);
    a_ = tag + "a";
    b_ = tag + "b";
    if (!shell("ip netns add " + a_) || !shell("ip netns add " + b_)) {
        failure_ = "ip netns add failed";
        return;
    }
    const char* steps[][2] = {
        {"a", "link add va address 02:00:00:00:0a:01 type veth peer name vb address 02:00:00:00:0a:02 netns " },
        {"a", "link set lo up"}, {"b", "link set lo up"},
        {"a", "addr add 192.0.2.1/24 dev va"}, {"b", "addr add 192.0.2.2/24 dev vb"},
        {"a", "link set va up"}, {"b", "link set vb up"},
    };
    for (auto& step : steps) {
        std::string args = step[1];
        if (args.ends_with("netns "))
            args += b_;
        if (!ip(step[0][0] == 'a' ? a_ : b_, args)) {
            failure_ = "ip " + args + " failed";
            return;
        }
    }
}

netns_pair::~netns_pair()
{
    shell("ip netns del " + a_);
    shell("ip netns del " + b_);
}

bool netns_pair::ip(const std::string& ns, const std::string& args) const { return shell("ip -n " + ns + " " + args); }

bool netns_pair::exec(const std::string& ns, const std::string& command) const
{
    return shell("ip netns exec " + ns + " sh -c '" + command + "'");
}

std::string run_in_netns(const std::string& ns, const std::function<std::string()>& fn)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return "CHILD FAILED";
    cutil::unique_fd rd(fds[0]), wr(fds[1]);
    pid_t pid = ::fork();
    if (pid < 0)
        return "CHILD FAILED";
    if (pid == 0) {
        rd.reset();
        if (!enter(ns))
            ::_exit(3);
        write_all(wr.get(), fn());
        ::_exit(0);
    }
    wr.reset();
    std::string out;
    char chunk[4096];
    for (ssize_t n; (n = ::read(rd.get(), chunk, sizeof chunk)) != 0;) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        out.append(chunk, static_cast<std::size_t>(n));
    }
    int status = wait_child(pid);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "CHILD FAILED";
    return out;
}

pid_t start_in_netns(const std::string& ns, const std::function<void(const std::function<void()>& ready)>& fn)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    cutil::unique_fd rd(fds[0]), wr(fds[1]);
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        rd.reset();
        if (!enter(ns))
            ::_exit(3);
        fn([&] { write_all(wr.get(), "r"); wr.reset(); });
        ::_exit(0);
    }
    wr.reset();
    char c;
    pollfd pfd{rd.get(), POLLIN, 0};
    if (::poll(&pfd, 1, 5000) != 1 || ::read(rd.get(), &c, 1) != 1) {
        ::kill(pid, SIGKILL);
        wait_child(pid);
        return -1;
    }
    return pid;
}

} // namespace vttest
