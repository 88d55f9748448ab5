// The changes: each runs one primitive, prints the library's answer, and reads the kernel back
// through the library to tell whether the change took (the takeover steps answer "SUCCESS"
// whatever their lower steps gave, and report those themselves).
#include "admin/handlers.hpp"

#include "cutil/arpcast.hpp"
#include "cutil/ifaddr.hpp"
#include "cutil/iflist.hpp"
#include "cutil/takeover.hpp"

#include <cstdio>

namespace Vtnet {

namespace {

constexpr std::string_view done = "SUCCESS";
constexpr std::string_view loopback = "lo0";
constexpr std::string_view no_interface = "ERROR"; // do_release_ip: the caller found none

bool carries(std::string_view ifname, const std::string& addr) { return cutil::find_ip_device(ifname, addr) != "ERROR"; }

// The library's word, and status_yes only when it is "SUCCESS" and `took` holds; a change that
// did not take is said on standard error.
int verdict(const std::string& word, bool took, const std::string& what)
{
    if (word == done && !took)
        complain(what);
    return answer(word, word == done && took);
}

} // namespace

int run_take(const request& r)
{
    const std::string &ifname = r.operands[0], &addr = r.operands[1];
    if (!interface_known(ifname))
        return status_no;
    std::string word = cutil::do_take_ip(ifname, addr);
    return verdict(word, carries(ifname, addr), addr + " is not on " + ifname);
}

int run_release(const request& r)
{
    const std::string &ifname = r.operands[0], &addr = r.operands[1];
    if (ifname != no_interface && !interface_known(ifname))
        return status_no;
    cutil::c_ip_init();
    std::string word = cutil::do_release_ip(ifname, addr, r.forget ? 1 : 0);
    for (std::string queued; !(queued = cutil::get_released()).empty();)
        std::printf("queued %s\n", queued.c_str());
    bool parks = !r.forget && !cutil::is_bad_kernel();
    bool off = ifname == no_interface || !carries(ifname, addr);
    if (!off)
        return verdict(word, false, addr + " is still on " + ifname);
    return verdict(word, carries(loopback, addr) == parks,
                   addr + (parks ? " is not parked on lo0" : " is still on lo0"));
}

int run_cleanup(const request& r)
{
    const std::string& ifname = r.operands[0];
    std::string word = cutil::device_cleanup(ifname);
    cutil::device_info info;
    bool one_left = cutil::get_device_info(ifname, info) == 1 && info.addr_count <= 1;
    return verdict(word, one_left, ifname + " still has more than one address");
}

int run_garp(const request& r)
{
    int sent = cutil::arpcast_sent(r.operands[0], r.operands[1].c_str(), r.count);
    return answer(sent == r.count ? done : "FAIL", sent == r.count);
}

int run_route(const request& r)
{
    bool del = r.operands[0] == "del";
    int result = cutil::unix_route("", r.operands[1].c_str(), 0, del ? 1 : 0);
    return answer(result == 0 ? done : "FAIL", result == 0);
}

} // namespace Vtnet
