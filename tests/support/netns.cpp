#include "support/netns.hpp"

#include "platform/unique_fd.hpp"
#include "support/child.hpp"
#include "support/pipes.hpp"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace vttest {

namespace {

bool shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool enter(const std::string& ns)
{
    cutil::unique_fd fd(::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC));
    return fd && ::setns(fd.get(), CLONE_NEWNET) == 0;
}

std::string unique_tag()
{
    static std::atomic<int> counter{0};
    return "vt4t" + std::to_string(::getpid()) + "n" + std::to_string(counter++);
}

const char* const veth_a = "link add va address 02:00:00:00:0a:01 type veth peer name ";
const char* const veth_b = "link add vb address 02:00:00:00:0a:02 type veth peer name ";

} // namespace

std::string netns_unavailable()
{
    if (::geteuid() != 0)
        return "network namespaces need root";
    return shell("ip -V") ? "" : "the ip command (iproute2) is not installed";
}

netns_set::netns_set(std::vector<std::string> roles, const std::vector<std::pair<int, std::string>>& steps)
{
    const std::string tag = unique_tag();
    for (const std::string& role : roles) {
        names_.push_back(tag + role);
        if (!shell("ip netns add " + names_.back())) {
            failure_ = "ip netns add failed";
            return;
        }
    }
    for (auto [role, args] : steps) {
        if (std::size_t at = args.find('@'); at != std::string::npos)
            args.replace(at, 2, names_.at(static_cast<std::size_t>(args[at + 1] - '0')));
        if (!ip(names_[static_cast<std::size_t>(role)], args)) {
            failure_ = "ip " + args + " failed";
            return;
        }
    }
}

netns_set::~netns_set()
{
    for (const std::string& ns : names_)
        shell("ip netns del " + ns);
}

std::string netns_segment::join(const std::string& dev, const std::string& hw, const std::string& cidr)
{
    std::string ns = names_[0] + "j" + std::to_string(names_.size());
    if (!shell("ip netns add " + ns))
        return "";
    names_.push_back(ns); // removed with the segment
    const std::string port = "p" + dev;
    const std::pair<std::string, std::string> steps[] = {
        {ns, "link add " + dev + " address " + hw + " type veth peer name " + port + " netns " + observer()},
        {observer(), "link set " + port + " master br0"}, {ns, "addr add " + cidr + " dev " + dev},
        {ns, "link set lo up"}, {observer(), "link set " + port + " up"}, {ns, "link set " + dev + " up"}};
    for (const auto& [where, args] : steps)
        if (!ip(where, args))
            return "";
    return ns;
}

bool netns_set::ip(const std::string& ns, const std::string& args) const { return shell("ip -n " + ns + " " + args); }

std::string netns_set::ip_out(const std::string& ns, const std::string& args) const
{
    return output_of("ip -n " + ns + " " + args + " 2>/dev/null");
}

bool netns_set::batch(const std::string& ns, const std::string& commands) const
{
    std::string path = "/tmp/vt4t-batch-" + std::to_string(::getpid()) + "-" + ns;
    bool ok = (std::ofstream(path) << commands << std::flush) && ip(ns, "-batch " + path);
    ::unlink(path.c_str());
    return ok;
}

netns_pair::netns_pair()
    : netns_set({"a", "b"}, {{0, veth_a + std::string("vb address 02:00:00:00:0a:02 netns @1")},
                             {0, "link set lo up"}, {1, "link set lo up"}, {0, "addr add 192.0.2.1/24 dev va"},
                             {1, "addr add 192.0.2.2/24 dev vb"}, {0, "link set va up"}, {1, "link set vb up"}})
{
}

netns_segment::netns_segment()
    : netns_set({"a", "b", "o"}, {{0, veth_a + std::string("pa netns @2")},
                                  {1, veth_b + std::string("pb netns @2")},
                                  {2, "link add br0 address 02:00:00:00:0a:03 type bridge"},
                                  {2, "link set pa master br0"}, {2, "link set pb master br0"},
                                  {0, "addr add 192.0.2.1/24 dev va"}, {1, "addr add 192.0.2.2/24 dev vb"},
                                  {2, "addr add 192.0.2.3/24 dev br0"}, {0, "link set lo up"}, {1, "link set lo up"},
                                  {2, "link set lo up"}, {2, "link set pa up"}, {2, "link set pb up"},
                                  {2, "link set br0 up"}, {0, "link set va up"}, {1, "link set vb up"}})
{
}

churning_interface::churning_interface(const netns_set& net, const std::string& ns, const std::string& dev,
                                       const std::string& hw)
    : rounds_("/tmp/vt4t-churn-" + std::to_string(::getpid()) + "-" + dev)
{
    std::ostringstream setup, round;
    setup << "link add " << dev << " address " << hw << " type veth peer name " << dev << "p\nlink set " << dev << " up\n";
    for (const char* prefix : {"198.51.100.", "203.0.113."})
        for (int h = 1; h <= 118; ++h)
            setup << "addr add " << prefix << h << "/32 dev " << dev << "\n";
    for (const char* verb : {"del", "add"})
        for (int h = 1; h <= 20; ++h)
            round << "addr " << verb << " 198.51.100." << h << "/32 dev " << dev << "\n";
    if (!net.batch(ns, setup.str()) || !(std::ofstream(rounds_) << round.str())) {
        failure_ = "cannot set up " + dev;
        return;
    }
    std::string loop = "while ip -n " + ns + " -batch " + rounds_ + " >/dev/null 2>&1; do :; done";
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        ::execlp("sh", "sh", "-c", loop.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid_ > 0)
        ::setpgid(pid_, pid_); // the group exists before the destructor may end it
    else
        failure_ = "fork failed";
}

churning_interface::~churning_interface()
{
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ::unlink(rounds_.c_str());
}

bool on_netns_thread(const std::string& ns, const std::function<void()>& fn)
{
    // A thread's network namespace is its own: sockets made there stay in `ns`.
    bool entered = false;
    std::thread([&] {
        if ((entered = enter(ns)))
            fn();
    }).join();
    return entered;
}

std::string run_in_netns(const std::string& ns, const std::function<std::string()>& fn)
{
    child_run r = run_in_child([&] { return enter(ns) ? fn() : (std::_Exit(3), std::string()); });
    return r.status == 0 ? r.answer : "CHILD FAILED";
}

} // namespace vttest
