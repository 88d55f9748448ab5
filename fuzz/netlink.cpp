// Answers of the kernel's rtnetlink dumps, whatever they hold, translated by the Linux backend
// into the home kernel's interface list and ARP table: the readers stay inside the datagrams,
// and what comes out is a list the library walks and finds each interface in.
#include "carp/carp.hpp"
#include "cutil/iflist.hpp"
#include "fuzz/check.hpp"
#include "platform/fake.hpp"
#include "platform/ifname.hpp"
#include "platform/linux/rtnl.hpp"
#include "platform/linux/snapshot.hpp"

#include <arpa/inet.h>

#include <cstring>
#include <vector>

using namespace cutil;
using namespace cutil::platform;
using vtfuzz::require;

namespace {

// The next datagram of the input: two bytes of length, then that many bytes (or what is left).
std::vector<char> next_datagram(std::string_view& in)
{
    std::uint16_t n = 0;
    if (in.size() >= 2) {
        std::memcpy(&n, in.data(), 2);
        in.remove_prefix(2);
    } else {
        n = static_cast<std::uint16_t>(in.size());
    }
    std::string_view d = in.substr(0, n);
    in.remove_prefix(d.size());
    return {d.begin(), d.end()};
}

template <typename T>
std::vector<T> read_answer(const std::vector<char>& datagram,
                           const std::function<std::optional<T>(const nlmsghdr*)>& read)
{
    std::vector<T> found;
    bool done = false;
    int e = linux_rtnl::read_dump_datagram(datagram, [&](const nlmsghdr* nlh) {
        if (std::optional<T> entry = read(nlh))
            found.push_back(std::move(*entry));
    }, done);
    if (e != 0)
        found.clear(); // a dump that failed is not used
    return found;
}

// Walks a table of routing messages from start to end by their lengths.
void require_whole_messages(const bsd::bytes& table, std::size_t least)
{
    std::size_t at = 0;
    while (at < table.size()) {
        require(table.size() - at >= 2, "a whole message length");
        std::size_t len = msglen_at(table.data() + at);
        require(len >= least && len <= table.size() - at, "a message inside the table");
        at += len;
    }
}

} // namespace

// Three datagrams: the answers of the link, address and neighbour dumps, in that order.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fake_backend kernel;
    static scoped_backend use{kernel};
    std::string_view in = vtfuzz::text_of(data, size);
    const std::vector<char> links_answer = next_datagram(in), addresses_answer = next_datagram(in);
    const std::vector<char> neighbours_answer(in.begin(), in.end());

    auto links = read_answer<linux_rtnl::link>(links_answer, linux_rtnl::read_link);
    auto addresses = read_answer<linux_rtnl::address>(addresses_answer, linux_rtnl::read_address);
    auto neighbours = read_answer<linux_rtnl::neighbour>(neighbours_answer, linux_rtnl::read_neighbour);

    kernel.iflist.clear();
    linux_snapshot::put_iflist(kernel.iflist, links, addresses);
    require_whole_messages(kernel.iflist, sizeof(bsd::ifa_msghdr));
    for (const auto& l : links) {
        std::string name = product_ifname(l.name, linux_snapshot::host_loopback);
        if (name.empty() || name.size() > sizeof(bsd::sockaddr_dl::sdl_data))
            continue; // no name, or cut to the field: not the name asked for
        device_info info;
        require(get_device_info(name, info) == 1, "every interface is found by its name");
    }

    kernel.arp.clear();
    linux_snapshot::put_arp_entries(kernel.arp, neighbours, links);
    require_whole_messages(kernel.arp, sizeof(bsd::rt_msghdr) + sizeof(bsd::sockaddr_inarp));
    for (const auto& n : neighbours) {
        std::string hw = get_arp(inet_ntoa(in_addr{n.dst}));
        require(hw == "ERROR" || hw.size() == 6, "six bytes or ERROR");
    }
    return 0;
}
