// A scripted kernel for unit tests: builders of its snapshots, and checks of a table of questions or steps.
#pragma once

#include "platform/fake.hpp"
#include "platform/routemsg.hpp"
#include "support/console.hpp"
#include "support/queries.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <variant>

namespace vttest {

inline const std::uint8_t hw0[6]{0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03};
inline const std::uint8_t hw1[6]{0x02, 0x00, 0x00, 0x00, 0x00, 0x11};
inline const std::uint8_t vrrp[6]{0x00, 0x00, 0x5e, 0x00, 0x01, 0x0a};

class scripted_kernel : public testing::Test {
protected:
    using call = cutil::platform::fake_backend::call;
    cutil::platform::fake_backend kernel;
    cutil::platform::scoped_backend use{kernel};

    // An interface of the list, then its addresses, each with its netmask and broadcast address when given.
    struct address { const char *addr, *mask = nullptr, *brd = nullptr; };
    void link(std::uint16_t index, std::string_view name, std::span<const std::uint8_t> hw, int flags, std::initializer_list<address> addrs = {})
    {
        cutil::bsd::put_if_msg(kernel.iflist, {.index = index, .flags = flags, .name = name, .hw = hw});
        for (const address& a : addrs) {
            const std::uint32_t mask = a.mask ? inet_addr(a.mask) : 0, brd = a.brd ? inet_addr(a.brd) : 0;
            cutil::bsd::put_ifa_msg(kernel.iflist, {.index = index, .addr = inet_addr(a.addr), .netmask = mask, .has_netmask = a.mask != nullptr,
                                                    .has_brd = a.brd != nullptr, .brd = brd});
        }
    }
    void arp(const char* a, std::string_view ifname, std::span<const std::uint8_t> hw = {})
    {
        cutil::bsd::put_arp_entry(kernel.arp, {.index = 1, .addr = inet_addr(a), .ifname = ifname, .hw = hw});
    }
    void expect_answers(const std::vector<std::string>& lines) { EXPECT_EQ(answers(lines), joined(lines)); }

    // A step, the kernel's errnos for it, and the answer, its requests (a line each), then "out: " and "err: " text.
    struct step {
        std::function<std::variant<int, std::string>()> run;
        std::map<call, std::deque<int>> errnos;
        std::string want;
    };
    void expect_steps(std::initializer_list<step> steps)
    {
        static const std::regex descriptor(R"(\(\d+\): )");
        for (const step& s : steps) {
            kernel.errnos = s.errnos;
            kernel.writes.clear();
            std::variant<int, std::string> answer;
            console c = console_of([&] { errno = 0; answer = s.run(); });
            std::string got = (answer.index() ? std::get<std::string>(answer) : std::to_string(std::get<int>(answer))) + " ";
            for (const std::string& line : kernel.summaries())
                got += line + "\n";
            got += (c.out.empty() ? "" : "out: " + c.out) + (c.err.empty() ? "" : "err: " + c.err);
            EXPECT_EQ(std::regex_replace(timeless(got), descriptor, "(FD): "), s.want);
        }
    }
};

} // namespace vttest
