#include "support/queries.hpp"

#include "carp/carp.hpp"
#include "cping/cping.hpp"
#include "cutil/hwaddr.hpp"
#include "cutil/ifconf.hpp"
#include "cutil/iflist.hpp"
#include "cutil/takeover.hpp"
#include "platform/backend.hpp"
#include "support/console.hpp"

#include <arpa/inet.h>

#include <functional>
#include <map>
#include <numeric>
#include <set>
#include <sstream>

namespace vttest {
using namespace cutil;

namespace {

std::string ask(const std::string& question)
{
    std::istringstream words(question);
    std::string what, arg, more;
    words >> what >> arg >> more;
    std::size_t size = 0;
    const std::map<std::string, std::function<std::string()>> asked{
        {"interface", [&] { return get_ethernet_interface(arg); }},
        {"netmask", [&] { return get_netmask(arg); }},
        {"hw", [&] { return my_ether_addr(arg); }},
        {"ping", [&] { return std::to_string(unix_ping(arg)); }},
        {"addresses", [&]() -> std::string {
             device_info info;
             if (get_device_info(arg, info) == 0)
                 return "none";
             std::set<std::string> found;
             for (const interface_address& a : interface_addresses(info)) {
                 if (!a.addr || !a.netmask)
                     return "undecodable";
                 std::string text = inet_ntoa({*a.addr}); // inet_ntoa answers a static buffer
                 found.insert(text + "/" + inet_ntoa({*a.netmask}) + " ");
             }
             return std::accumulate(found.begin(), found.end(), std::string());
         }},
        {"entries", [&] {
             int e = platform::active().arp_sysctl(inet_addr(arg.c_str()), nullptr, &size);
             return e ? "error" : std::to_string(size / 164);
         }},
        {"device", [&] { return find_ip_device(arg, more); }},
        {"configured", [&] { return std::to_string(configured_ip(arg, more)); }}};
    if (auto it = asked.find(what); it != asked.end())
        return it->second();
    std::string hw = get_arp(arg);
    return hw.size() == 6 ? ether_sprintf(reinterpret_cast<const std::uint8_t*>(hw.data())) : hw;
}

} // namespace

std::string answers(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines) {
        const std::string question = line.substr(0, line.find(" = "));
        std::string answer;
        console c = console_of([&] { answer = ask(question); });
        const std::string printed = one_line(c.out + c.err);
        out += question + " = " + answer + (printed.empty() ? "" : " [" + printed + "]") + "\n";
    }
    return out;
}

std::string one_line(std::string text)
{
    for (std::size_t at; (at = text.find('\n')) != std::string::npos;)
        text.replace(at, 1, at + 1 == text.size() ? "" : " | ");
    return timeless(text);
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

} // namespace vttest
