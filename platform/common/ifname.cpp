#include "platform/ifname.hpp"

namespace cutil::platform {

// The name with base `from` (itself or an alias `from:label`) rebased on `to`; none otherwise.
static bool rebase(std::string_view name, std::string_view from, std::string_view to, std::string& out)
{
    if (!name.starts_with(from) || (name.size() != from.size() && name[from.size()] != ':'))
        return false;
    out = std::string(to) + std::string(name.substr(from.size()));
    return true;
}

// Swaps the bases `a` and `b`; every other name stays as it is.
static std::string swap_base(std::string_view name, std::string_view a, std::string_view b)
{
    std::string out;
    if (rebase(name, a, b, out) || rebase(name, b, a, out))
        return out;
    return std::string(name);
}

std::string product_ifname(std::string_view host_name, std::string_view host_loopback)
{
    return swap_base(host_name, host_loopback, product_loopback);
}

std::string host_ifname(std::string_view product_name, std::string_view host_loopback)
{
    return swap_base(product_name, product_loopback, host_loopback);
}

} // namespace cutil::platform
