// A test that runs on its own pair of network namespaces (see netns.hpp), skipping where they
// cannot be made; and what the ip command shows of them.
#pragma once

#include "support/netns.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace vttest {

class netns_test : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = netns_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        pair = std::make_unique<netns_pair>();
        if (!pair->failure().empty())
            GTEST_SKIP() << "cannot make the namespaces: " << pair->failure();
    }
    std::unique_ptr<netns_pair> pair;
};

// A test on its own bridged segment of three namespaces (see netns.hpp), skipping where they
// cannot be made; library code runs inside them in forked children.
class segment_test : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = netns_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        seg = std::make_unique<netns_segment>();
        if (!seg->failure().empty())
            GTEST_SKIP() << "cannot make the namespaces: " << seg->failure();
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
