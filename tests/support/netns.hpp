// Namespaces a test makes for itself, on veth pairs with documentation addresses, removed on
// every path; library calls run inside them in children or on threads.
#pragma once

#include "platform/unique_fd.hpp"

#include <sys/types.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vttest {

// Why namespaces cannot be made here, or empty when they can.
std::string netns_unavailable();

// Namespaces of this process, one per role, removed by the destructor.
class netns_set {
public:
    netns_set(const netns_set&) = delete;
    netns_set& operator=(const netns_set&) = delete;
    ~netns_set();
    const std::string& failure() const { return failure_; } // empty when every namespace stands
    const std::string& a() const { return names_[0]; }
    const std::string& b() const { return names_[1]; }
    bool ip(const std::string& ns, const std::string& args) const; // "ip -n NS ARGS"
    std::string ip_out(const std::string& ns, const std::string& args) const; // what it printed
    bool batch(const std::string& ns, const std::string& commands) const; // one ip command a line
    void repeat(const std::string& ns, const std::string& commands); // the batch, until destruction

protected:
    // `roles` namespaces, then each {role, "ip -n" arguments} step ("@N": namespace N).
    netns_set(int roles, const std::vector<std::pair<int, std::string>>& steps);
    std::vector<std::string> names_;
    std::string failure_;
    pid_t loop_ = -1;
};

// a ("va", 02:00:00:00:0a:01, 192.0.2.1/24) and b ("vb", ...:0a:02, .2/24) on one veth pair.
struct netns_pair : netns_set {
    netns_pair();
};

// a and b on the observer's bridge "br0" (...:0a:03, 192.0.2.3/24); the forger's "vz" is .4.
struct netns_segment : netns_set {
    explicit netns_segment(bool with_forger = false);
    const std::string& observer() const { return names_[2]; }
    const std::string& forger() const { return names_.at(3); }
};

// `fn` on a thread of this process inside `ns`; false when `ns` could not be entered.
bool on_netns_thread(const std::string& ns, const std::function<void()>& fn);
// What `fn` answered in a child inside `ns`, or "CHILD FAILED".
std::string run_in_netns(const std::string& ns, const std::function<std::string()>& fn);
// A packet socket on `ifname` in `ns`, receiving each frame of `ethertype` from now on.
cutil::unique_fd listener(const std::string& ns, const char* ifname, std::uint16_t ethertype = 0x0806);
// In hex, one a line, the frames that announce `addr`, until the segment is quiet for 0.5 s.
std::string announcements(int listener, const char* addr);

} // namespace vttest
