// A test on namespaces of its own (see netns.hpp), skipping where they cannot be made.
#pragma once

#include "support/console.hpp"
#include "support/netns.hpp"
#include "support/queries.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

namespace vttest {

// `Net` is made with `args` for each test.
template <class Net, auto... args> class netns_fixture : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = netns_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        net = std::make_unique<Net>(args...);
        if (!net->failure().empty())
            GTEST_SKIP() << "cannot make the namespaces: " << net->failure();
    }
    // Runs the ip commands in `ns` in one batch, in order; false when one fails.
    bool configure(const std::string& ns, const std::vector<std::string>& steps) { return net->batch(ns, joined(steps)); }
    // Sets net.ipv4.conf.`key` ("va/arp_ignore") in `ns`, never the host's.
    bool set_conf(const std::string& ns, const std::string& key, int value)
    {
        return run_in_netns(ns, [&] { return (std::ofstream("/proc/sys/net/ipv4/conf/" + key) << value).flush() ? "ok" : ""; }) == "ok";
    }
    // What `fn` answered inside `ns`, followed by what it printed (timed lines made constant).
    template <class F> std::string said_in(const std::string& ns, F&& fn)
    {
        return run_in_netns(ns, [&] {
            int answer = 0;
            console c = console_of([&] { answer = fn(); });
            return std::to_string(answer) + (c.out + c.err == "" ? "" : " " + timeless(c.out + c.err));
        });
    }
    std::unique_ptr<Net> net;
};

using netns_test = netns_fixture<netns_pair>;

// The segment, with the observer's bridge listening for ARP from the start.
class segment_test : public netns_fixture<netns_segment> {
protected:
    void SetUp() override
    {
        netns_fixture::SetUp();
        if (!IsSkipped())
            wire = arp_listener(net->observer(), "br0");
        ASSERT_TRUE(IsSkipped() || wire.valid());
    }
    // The IPv4 addresses ip shows on `dev` of `ns`, each followed by a blank.
    std::string addrs(const std::string& ns, const char* dev) const
    {
        std::string out = net->ip_out(ns, std::string("-4 -o addr show dev ") + dev), got;
        for (std::size_t at = out.find("inet "); at != std::string::npos; at = out.find("inet ", at + 1))
            got += out.substr(at + 5, out.find(' ', at + 5) - at - 5) + " ";
        return got;
    }
    // In hex, the frames the observer's bridge saw announce `addr` since it last looked.
    std::string announced(const char* addr) const { return announcements(wire.get(), addr); }
    cutil::unique_fd wire;
};

} // namespace vttest
