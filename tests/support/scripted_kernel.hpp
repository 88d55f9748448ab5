// A scripted kernel for unit tests with builders of the snapshots it hands out, and the decoder
// of an interface's address messages that unit and system tests share.
#pragma once

#include "cutil/iflist.hpp"
#include "platform/fake.hpp"
#include "support/console.hpp"
#include "platform/routemsg.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vttest {

inline const std::uint8_t hw0[6]{0x00, 0xa0, 0xc9, 0x01, 0x02, 0x03};
inline const std::uint8_t hw1[6]{0x02, 0x00, 0x00, 0x00, 0x00, 0x11};
inline const std::uint8_t vrrp[6]{0x00, 0x00, 0x5e, 0x00, 0x01, 0x0a};

inline std::string raw(const void* hw) { return std::string(static_cast<const char*>(hw), 6); }

template <class F> std::string stderr_of(F&& fn)
{
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

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
    // What `fn` asked of the kernel, a line each, then what it printed (timed lines made constant).
    template <class F> std::string trace(F&& fn)
    {
        kernel.writes.clear();
        console c = console_of(fn);
        std::string log;
        for (const std::string& s : kernel.summaries())
            log += s + "\n";
        return log + "out: " + timeless(c.out) + "err: " + timeless(c.err);
    }
};

} // namespace vttest
