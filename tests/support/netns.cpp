#include "support/netns.hpp"

#include "cutil/unique_fd.hpp"
#include "support/child.hpp"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vttest {

namespace {

bool shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool enter(const std::string& ns)
{
    cutil::unique_fd fd(::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC));
    return fd && ::setns(fd.get(), CLONE_NEWNET) == 0;
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
    static std::atomic<int> counter{0};
    std::string tag = "vt4t" + std::to_string(::getpid()) + "n" + std::to_string(counter++);
    a_ = tag + "a";
    b_ = tag + "b";
    if (!shell("ip netns add " + a_) || !shell("ip netns add " + b_)) {
        failure_ = "ip netns add failed";
        return;
    }
    for (auto& [ns, args] : {std::pair{a_, "link add va address 02:00:00:00:0a:01 type veth peer name vb address 02:00:00:00:0a:02 netns " + b_},
                            {a_, "link set lo up"}, {b_, "link set lo up"}, {a_, "addr add 192.0.2.1/24 dev va"},
                            {b_, "addr add 192.0.2.2/24 dev vb"}, {a_, "link set va up"}, {b_, "link set vb up"}})
        if (!ip(ns, args)) {
            failure_ = "ip " + args + " failed";
            return;
        }
}

netns_pair::~netns_pair()
{
    shell("ip netns del " + a_);
    shell("ip netns del " + b_);
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
