#include "support/netns.hpp"

#include "platform/unique_fd.hpp"
#include "support/child.hpp"

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
#include <vector>

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

// Runs "ip -n NS ARGS" for each step; the first that fails is the answer, empty when none did.
std::string build(const std::vector<std::pair<std::string, std::string>>& steps)
{
    for (const auto& [ns, args] : steps)
        if (!shell("ip -n " + ns + " " + args))
            return "ip " + args + " failed";
    return "";
}

} // namespace

std::string netns_unavailable()
{
    if (::geteuid() != 0)
        return "network namespaces need root";
    return shell("ip -V") ? "" : "the ip command (iproute2) is not installed";
}

netns_pair::netns_pair()
{
    std::string tag = unique_tag();
    a_ = tag + "a";
    b_ = tag + "b";
    if (!shell("ip netns add " + a_) || !shell("ip netns add " + b_)) {
        failure_ = "ip netns add failed";
        return;
    }
    failure_ = build({{a_, "link add va address 02:00:00:00:0a:01 type veth peer name vb address 02:00:00:00:0a:02 netns " + b_},
                      {a_, "link set lo up"}, {b_, "link set lo up"}, {a_, "addr add 192.0.2.1/24 dev va"},
                      {b_, "addr add 192.0.2.2/24 dev vb"}, {a_, "link set va up"}, {b_, "link set vb up"}});
}

netns_pair::~netns_pair()
{
    shell("ip netns del " + a_);
    shell("ip netns del " + b_);
}

netns_segment::netns_segment()
{
    std::string tag = unique_tag();
    a_ = tag + "a";
    b_ = tag + "b";
    o_ = tag + "o";
    for (const auto& ns : {a_, b_, o_})
        if (!shell("ip netns add " + ns)) {
            failure_ = "ip netns add failed";
            return;
        }
    failure_ = build({{a_, "link add va address 02:00:00:00:0a:01 type veth peer name pa netns " + o_},
                      {b_, "link add vb address 02:00:00:00:0a:02 type veth peer name pb netns " + o_},
                      {o_, "link add br0 address 02:00:00:00:0a:03 type bridge"},
                      {o_, "link set pa master br0"}, {o_, "link set pb master br0"},
                      {a_, "addr add 192.0.2.1/24 dev va"}, {b_, "addr add 192.0.2.2/24 dev vb"},
                      {o_, "addr add 192.0.2.3/24 dev br0"},
                      {a_, "link set lo up"}, {b_, "link set lo up"}, {o_, "link set lo up"},
                      {o_, "link set pa up"}, {o_, "link set pb up"}, {o_, "link set br0 up"},
                      {a_, "link set va up"}, {b_, "link set vb up"}});
}

netns_segment::~netns_segment()
{
    for (const auto& ns : {a_, b_, o_})
        shell("ip netns del " + ns);
    for (const auto& ns : joined_)
        shell("ip netns del " + ns);
}

std::string netns_segment::join(const std::string& dev, const std::string& hw, const std::string& cidr)
{
    std::string ns = o_ + "j" + std::to_string(joined_.size());
    if (!shell("ip netns add " + ns))
        return "";
    joined_.push_back(ns);
    std::string port = "p" + dev;
    std::string failed = build({{ns, "link add " + dev + " address " + hw + " type veth peer name " + port + " netns " + o_},
                                {o_, "link set " + port + " master br0"}, {ns, "addr add " + cidr + " dev " + dev},
                                {ns, "link set lo up"}, {o_, "link set " + port + " up"}, {ns, "link set " + dev + " up"}});
    return failed.empty() ? ns : "";
}

bool netns_segment::ip(const std::string& ns, const std::string& args) const { return shell("ip -n " + ns + " " + args); }

std::string netns_segment::ip_out(const std::string& ns, const std::string& args) const
{
    std::string out;
    if (FILE* p = ::popen(("ip -n " + ns + " " + args + " 2>/dev/null").c_str(), "r")) {
        char buf[512];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
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

bool netns_pair::ip(const std::string& ns, const std::string& args) const { return shell("ip -n " + ns + " " + args); }

bool netns_pair::batch(const std::string& ns, const std::string& commands) const
{
    std::string path = "/tmp/vt4t-batch-" + std::to_string(::getpid()) + "-" + ns;
    bool written = static_cast<bool>(std::ofstream(path) << commands);
    bool ok = written && ip(ns, "-batch " + path);
    ::unlink(path.c_str());
    return ok;
}

churning_interface::churning_interface(const netns_pair& pair, const std::string& ns, const std::string& dev,
                                       const std::string& hw)
    : rounds_("/tmp/vt4t-churn-" + std::to_string(::getpid()) + "-" + dev)
{
    std::ostringstream setup, round;
    setup << "link add " << dev << " address " << hw << " type veth peer name " << dev << "p\nlink set " << dev << " up\n";
    for (const char* net : {"198.51.100.", "203.0.113."})
        for (int h = 1; h <= 118; ++h)
            setup << "addr add " << net << h << "/32 dev " << dev << "\n";
    for (const char* verb : {"del", "add"})
        for (int h = 1; h <= 20; ++h)
            round << "addr " << verb << " 198.51.100." << h << "/32 dev " << dev << "\n";
    if (!pair.batch(ns, setup.str()) || !(std::ofstream(rounds_) << round.str())) {
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

std::string run_in_netns(const std::string& ns, const std::function<std::string()>& fn)
{
    child_run r = run_in_child([&] { return enter(ns) ? fn() : (std::_Exit(3), std::string()); });
    return r.status == 0 ? r.answer : "CHILD FAILED";
}

} // namespace vttest
