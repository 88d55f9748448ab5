// Routing messages as the write half reads them back before it carries them out: any bytes
// are refused with an errno or give a request that can be carried out.
#include "fuzz/check.hpp"
#include "platform/routeread.hpp"

#include <arpa/inet.h>

#include <bit>
#include <cstring>

using namespace cutil::bsd;
using vtfuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    route_request r;
    const int e = read_route_request({reinterpret_cast<const std::byte*>(data), size}, r);
    if (e == 0) {
        require(r.type == rtm_add || r.type == rtm_delete, "an add or a delete");
        require(r.prefixlen <= 32, "a prefix of at most 32 bits");
        require(r.type != rtm_add || r.gateway.has_value(), "an add has its gateway");
    }
    if (size >= 4) {
        std::uint32_t mask;
        std::memcpy(&mask, data, 4);
        const int prefix = mask_prefix(mask);
        require(prefix == -1 || (prefix == std::popcount(mask) && (prefix == 0 || ntohl(mask) >> (32 - prefix) << (32 - prefix) == ntohl(mask))),
                "a prefix only for a contiguous mask");
    }
    return 0;
}
