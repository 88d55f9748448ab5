// Two network namespaces a test makes for itself, joined by a veth pair with documentation
// addresses and removed again on every path; library calls run inside them in forked children.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vttest {

// Why namespaces cannot be made here, or empty when they can.
std::string netns_unavailable();

// Namespaces a() and b(), unique to this process: "va" (02:00:00:00:0a:01, 192.0.2.1/24) in a,
// "vb" (02:00:00:00:0a:02, 192.0.2.2/24) in b, both up, loopbacks up.
class netns_pair {
public:
    netns_pair();
    ~netns_pair();
    netns_pair(const netns_pair&) = delete;
    netns_pair& operator=(const netns_pair&) = delete;
    const std::string& failure() const { return failure_; } // empty when the pair stands
    const std::string& a() const { return a_; }
    const std::string& b() const { return b_; }
    bool ip(const std::string& ns, const std::string& args) const; // "ip -n NS ARGS"
    bool batch(const std::string& ns, const std::string& commands) const; // one ip command a line

private:
    std::string a_, b_, failure_;
};

// An interface of `ns` with 236 IPv4 addresses of which 40 change per round (20 removed, then
// added again), round after round, from construction until destruction; the rounds run in a
// shell of their own process group, which the destructor ends by its id.
class churning_interface {
public:
    churning_interface(const netns_pair& pair, const std::string& ns, const std::string& dev, const std::string& hw);
    ~churning_interface();
    churning_interface(const churning_interface&) = delete;
    churning_interface& operator=(const churning_interface&) = delete;
    const std::string& failure() const { return failure_; } // empty when it churns

private:
    std::string rounds_, failure_;
    int pid_ = -1;
};

// Three namespaces on one Ethernet segment: hosts a() ("va", 02:00:00:00:0a:01, 192.0.2.1/24)
// and b() ("vb", 02:00:00:00:0a:02, 192.0.2.2/24), and observer() whose bridge "br0"
// (192.0.2.3/24) joins them, so that it sees every broadcast frame either host sends.
class netns_segment {
public:
    netns_segment();
    ~netns_segment();
    netns_segment(const netns_segment&) = delete;
    netns_segment& operator=(const netns_segment&) = delete;
    const std::string& failure() const { return failure_; }
    const std::string& a() const { return a_; }
    const std::string& b() const { return b_; }
    const std::string& observer() const { return o_; }
    bool ip(const std::string& ns, const std::string& args) const;
    // What "ip -n NS ARGS" printed, or empty.
    std::string ip_out(const std::string& ns, const std::string& args) const;
    // One more host on the segment: a namespace whose interface `dev` (MAC `hw`, address `cidr`)
    // joins the bridge, removed with the segment. Answers its name, or empty when it failed.
    std::string join(const std::string& dev, const std::string& hw, const std::string& cidr);

private:
    std::string a_, b_, o_, failure_;
    std::vector<std::string> joined_;
};

// Runs `fn` on a thread of this process inside `ns`; false when `ns` could not be entered.
bool on_netns_thread(const std::string& ns, const std::function<void()>& fn);

// What `fn` answered in a child inside `ns`, or "CHILD FAILED".
std::string run_in_netns(const std::string& ns, const std::function<std::string()>& fn);

} // namespace vttest
