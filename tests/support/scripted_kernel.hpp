// A scripted kernel for unit tests, with builders of the snapshots it hands out, and the decoder
// of an interface's address messages that unit and system tests share.
#pragma once

#include "cutil/iflist.hpp"
#include "platform/fake.hpp"
#include "platform/routemsg.hpp"
#include "support/console.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <variant>

namespace vttest {

inline const std::uint8_t hw0[6]{0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03};
inline const std::uint8_t hw1[6]{0x02, 0x00, 0x00, 0x00, 0x00, 0x11};
inline const std::uint8_t vrrp[6]{0x00, 0x00, 0x5e, 0x00, 0x01, 0x0a};

// "address/netmask " for each address of the interface get_device_info found, sorted.
inline std::string decoded_addresses(const cutil::device_info& info)
{
    std::set<std::string> found;
    for (const cutil::interface_address& a : cutil::interface_addresses(info)) {
        if (!a.addr || !a.netmask)
            return "undecodable";
        std::string text = inet_ntoa({*a.addr}); // inet_ntoa answers a static buffer
        found.insert(text + "/" + inet_ntoa({*a.netmask}));
    }
    std::string out;
    for (auto& f : found)
        out += f + " ";
    return out;
}

class scripted_kernel : public testing::Test {
protected:
    using call = cutil::platform::fake_backend::call;
    cutil::platform::fake_backend kernel;
    cutil::platform::scoped_backend use{kernel};

    void link(std::uint16_t index, std::string_view name, std::span<const std::uint8_t> hw = {}, int flags = 0)
    {
        cutil::bsd::put_if_msg(kernel.iflist, {.index = index, .flags = flags, .name = name, .hw = hw});
    }
    void addr(std::uint16_t index, const char* a, const char* mask)
    {
        cutil::bsd::put_ifa_msg(kernel.iflist, {.index = index, .addr = inet_addr(a), .netmask = inet_addr(mask)});
    }
    void arp(const char* a, std::string_view ifname, std::span<const std::uint8_t> hw = {})
    {
        cutil::bsd::put_arp_entry(kernel.arp, {.index = 1, .addr = inet_addr(a), .ifname = ifname, .hw = hw});
    }
    // What `fn` asked of the kernel, a line each, then what it printed (timed lines and descriptor
    // numbers made constant).
    template <class F> std::string trace(F&& fn)
    {
        static const std::regex descriptor(R"(\(\d+\): )");
        kernel.writes.clear();
        console c = console_of(fn);
        std::string log;
        for (const std::string& s : kernel.summaries())
            log += s + "\n";
        const auto shown = [](const char* label, const std::string& text) { return text.empty() ? "" : label + timeless(text); };
        return std::regex_replace(log + shown("out: ", c.out) + shown("err: ", c.err), descriptor, "(FD): ");
    }
    // One step, the errnos the kernel answers it with, and "answer trace" as it should be.
    struct step {
        std::function<std::variant<int, std::string>()> run;
        std::map<call, std::deque<int>> errnos;
        std::string want;
    };
    void expect_steps(std::initializer_list<step> steps)
    {
        for (const step& s : steps) {
            kernel.errnos = s.errnos;
            std::variant<int, std::string> answer;
            std::string t = trace([&] { errno = 0, answer = s.run(); });
            const int* n = std::get_if<int>(&answer);
            EXPECT_EQ((n ? std::to_string(*n) : std::get<std::string>(answer)) + " " + t, s.want);
        }
    }
};

} // namespace vttest
