#include "support/netns.hpp"

#include "support/child.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vttest {

namespace {

bool enter(const std::string& ns)
{
    cutil::unique_fd fd(::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC));
    return fd && ::setns(fd.get(), CLONE_NEWNET) == 0;
}

using step_list = std::vector<std::pair<int, std::string>>;

// The observer's bridge, and hosts 0 (a), 1 (b) and 3 (the forger) on it as "v" and their letter.
step_list segment_steps(bool with_forger)
{
    step_list s{{2, "link add br0 address 02:00:00:00:0a:03 type bridge"},
                {2, "addr add 192.0.2.3/24 dev br0"},
                {2, "link set lo up"},
                {2, "link set br0 up"}};
    for (int h : with_forger ? std::vector{0, 1, 3} : std::vector{0, 1}) {
        const std::string dev = std::string("v") + "ab?z"[h], n = std::to_string(h + 1);
        s.insert(s.end(), {{h, "link add " + dev + " address 02:00:00:00:0a:0" + n
                                   + " type veth peer name p" + dev + " netns @2"},
                           {2, "link set p" + dev + " master br0 up"},
                           {h, "addr add 192.0.2." + n + "/24 dev " + dev},
                           {h, "link set lo up"},
                           {h, "link set " + dev + " up"}});
    }
    return s;
}

} // namespace

std::string netns_unavailable()
{
    if (::geteuid() != 0)
        return "network namespaces need root";
    return run_shell("ip -V").status == 0 ? "" : "the ip command (iproute2) is not installed";
}

netns_set::netns_set(int roles, const step_list& steps)
{
    static std::atomic<int> counter{0};
    const std::string tag = "vt4t" + std::to_string(::getpid()) + "n" + std::to_string(counter++);
    for (char role = 'a'; role < 'a' + roles; ++role) {
        names_.push_back(tag + role);
        if (failure_.empty() && run_shell("ip netns add " + names_.back()).status != 0)
            failure_ = "ip netns add failed";
    }
    for (auto [role, args] : steps) {
        if (std::size_t at = args.find('@'); at != std::string::npos)
            args.replace(at, 2, names_.at(args[at + 1] - '0'));
        if (failure_.empty() && !ip(names_.at(role), args))
            failure_ = "ip " + args + " failed";
    }
}

netns_set::~netns_set()
{
    if (loop_ > 0) {
        ::kill(-loop_, SIGKILL);
        ::waitpid(loop_, nullptr, 0);
    }
    for (const std::string& ns : names_)
        run_shell("ip netns del " + ns);
}

bool netns_set::ip(const std::string& ns, const std::string& args) const
{
    return run_shell("ip -n " + ns + " " + args).status == 0;
}

std::string netns_set::ip_out(const std::string& ns, const std::string& args) const
{
    return run_shell("ip -n " + ns + " " + args).out;
}

// On standard input: thousands of lines exceed what one argument may hold.
bool netns_set::batch(const std::string& ns, const std::string& commands) const
{
    return run_shell("ip -n " + ns + " -batch - >/dev/null 2>&1", commands).status == 0;
}

netns_pair::netns_pair()
    : netns_set(2, {{0, "link add va address 02:00:00:00:0a:01 type veth"
                        " peer name vb address 02:00:00:00:0a:02 netns @1"},
                    {0, "addr add 192.0.2.1/24 dev va"}, {1, "addr add 192.0.2.2/24 dev vb"},
                    {0, "link set lo up"}, {1, "link set lo up"},
                    {0, "link set va up"}, {1, "link set vb up"}})
{}

netns_segment::netns_segment(bool with_forger)
    : netns_set(with_forger ? 4 : 3, segment_steps(with_forger))
{}

void netns_set::repeat(const std::string& ns, const std::string& commands)
{
    const std::string loop = "while ip -n " + ns + " -batch - >/dev/null 2>&1 <<'END'\n"
                             + commands + "END\ndo :; done";
    loop_ = start_child([&] {
        ::setpgid(0, 0);
        ::execlp("sh", "sh", "-c", loop.c_str(), static_cast<char*>(nullptr));
    });
    ::setpgid(loop_, loop_); // the group exists before the destructor may end it
}

// A thread's network namespace is its own: sockets made there stay in `ns`.
bool on_netns_thread(const std::string& ns, const std::function<void()>& fn)
{
    bool entered = false;
    std::thread([&] {
        if ((entered = enter(ns)))
            fn();
    }).join();
    return entered;
}

std::string run_in_netns(const std::string& ns, const std::function<std::string()>& fn)
{
    child_run r = run_in_child([&] {
        if (!enter(ns))
            std::_Exit(3);
        return fn();
    });
    return r.status == 0 ? r.answer : "CHILD FAILED";
}

cutil::unique_fd listener(const std::string& ns, const char* ifname, std::uint16_t ethertype)
{
    cutil::unique_fd sock;
    on_netns_thread(ns, [&] {
        sock.reset(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ethertype)));
        sockaddr_ll at{.sll_family = AF_PACKET, .sll_protocol = htons(ethertype),
                       .sll_ifindex = static_cast<int>(::if_nametoindex(ifname))};
        if (sock && ::bind(sock.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
            sock.reset();
    });
    return sock;
}

std::string announcements(int listener, const char* addr)
{
    std::string out;
    std::uint32_t a = ::inet_addr(addr);
    unsigned char frame[1600];
    for (pollfd p{listener, POLLIN, 0}; ::poll(&p, 1, 500) == 1;) {
        const ssize_t n = ::recv(listener, frame, sizeof frame, 0);
        if (n < 42 || std::memcmp(frame + 28, &a, 4) || std::memcmp(frame + 38, &a, 4))
            continue;
        for (ssize_t i = 0; i < n; ++i)
            out += {"0123456789abcdef"[frame[i] >> 4], "0123456789abcdef"[frame[i] & 15]};
        out += "\n";
    }
    return out;
}

} // namespace vttest
