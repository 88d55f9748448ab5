// A test that runs on its own pair of network namespaces (see netns.hpp), skipping where they
// cannot be made; and what the ip command shows of them.
#pragma once

#include "support/netns.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace vttest {

// Makes the namespaces (a netns_pair or a netns_segment), or answers why they cannot be made.
template <class Namespaces> std::string make_namespaces(std::unique_ptr<Namespaces>& made)
{
    if (std::string why = netns_unavailable(); !why.empty())
        return why;
    made = std::make_unique<Namespaces>();
    return made->failure().empty() ? "" : "cannot make the namespaces: " + made->failure();
}

class netns_test : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = make_namespaces(pair); !why.empty())
            GTEST_SKIP() << why;
    }
    std::unique_ptr<netns_pair> pair;
};

// A test on its own bridged segment of three namespaces (see netns.hpp), skipping where they
// cannot be made; library code runs inside them in forked children.
class segment_test : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = make_namespaces(seg); !why.empty())
            GTEST_SKIP() << why;
    }
    // The IPv4 addresses of the interface as ip shows them: "192.0.2.1/24 192.0.2.100/32 ".
    std::string addrs(const std::string& ns, const char* dev) const
    {
        std::string out = seg->ip_out(ns, std::string("-4 -o addr show dev ") + dev);
        std::string got;
        for (std::size_t at = out.find("inet "); at != std::string::npos; at = out.find("inet ", at + 1))
            got += out.substr(at + 5, out.find(' ', at + 5) - at - 5) + " ";
        return got;
    }
    // Runs library code inside a namespace; the answer is what it returned.
    template <class F> std::string in(const std::string& ns, F&& fn)
    {
        return run_in_netns(ns, [&] { return std::string(fn()); });
    }
    std::unique_ptr<netns_segment> seg;
};

// The standard output of "ip -n NS ARGS".
inline std::string ip_output(const std::string& ns, const std::string& args)
{
    std::string out;
    if (FILE* p = ::popen(("ip -n " + ns + " " + args + " 2>&1").c_str(), "r")) {
        char buf[512];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

} // namespace vttest
