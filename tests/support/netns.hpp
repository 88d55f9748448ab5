// Network namespaces that a test makes for itself: two of them joined by a veth pair, with
// documentation addresses, removed again on every path. Library calls run inside one of them
// in a forked child that reports back through a pipe.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace vttest {

// Why namespaces cannot be made here, or empty when they can.
std::string netns_unavailable();

// Namespaces "<tag>a" and "<tag>b" (unique to this process) with veth "va" (02:00:00:00:0a:01,
// 192.0.2.1/24) in a and "vb" (02:00:00:00:0a:02, 192.0.2.2/24) in b, both up, loopbacks up.
class netns_pair {
public:
    netns_pair();
    ~netns_pair();
    netns_pair(const netns_pair&) = delete;
    netns_pair& operator=(const netns_pair&) = delete;

    // Empty when the pair stands; otherwise why it could not be made.
    const std::string& failure() const { return failure_; }
    const std::string& a() const { return a_; }
    const std::string& b() const { return b_; }

    // Runs "ip -n NS ..." (args after "ip"); answers true on success.
    bool ip(const std::string& ns, const std::string& args) const;
    // Runs a shell command inside the namespace; answers true on success.
    bool exec(const std::string& ns, const std::string& command) const;

private:
    std::string a_, b_, failure_;
};

// Runs `fn` in a child that entered namespace `ns` and answers what it returned; a child that
// could not enter or died answers "CHILD FAILED".
std::string run_in_netns(const std::string& ns, const std::function<std::string()>& fn);
// Starts `fn` in such a child and answers its pid once the child has entered the namespace
// and `fn` has signalled readiness by calling the given function; -1 on failure.
pid_t start_in_netns(const std::string& ns, const std::function<void(const std::function<void()>& ready)>& fn);

} // namespace vttest
