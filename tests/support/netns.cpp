#include "support/netns.hpp"

#include "platform/unique_fd.hpp"
#include "support/child.hpp"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

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

std::string run_in_netns(const std::string& ns, const std::function<std::string()>& fn)
{
    child_run r = run_in_child([&] { return enter(ns) ? fn() : (std::_Exit(3), std::string()); });
    return r.status == 0 ? r.answer : "CHILD FAILED";
}

} // namespace vttest
