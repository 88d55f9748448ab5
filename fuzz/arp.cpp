// ARP snapshots as a kernel might hand them out, through the scripted kernel: the lookup stays
// inside the bytes and answers six bytes or "ERROR".
#include "carp/carp.hpp"
#include "fuzz/check.hpp"
#include "platform/fake.hpp"

#include <arpa/inet.h>

#include <vector>

using namespace cutil;
using vtfuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static platform::fake_backend kernel;
    static platform::scoped_backend use{kernel};
    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    kernel.arp.assign(bytes, bytes + size);
    for (const char* addr : {"192.0.2.1", "192.0.2.2", "0.0.0.0"}) {
        std::string hw = get_arp(addr);
        require(hw == "ERROR" || hw.size() == 6, "six bytes or ERROR");
        std::vector<std::byte> table(bytes, bytes + size);
        auto found = find_arp_entry(table, ::inet_addr(addr));
        require(found.has_value() == (hw.size() == 6), "the lookup answers what the walk finds");
    }
    return 0;
}
