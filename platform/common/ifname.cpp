#include "platform/ifname.hpp"

namespace cutil::platform {

// Replaces `from` by `to` when the name is `from` itself or an alias `from:label`.
static std::string swap_base(std::string_view name, std::string_view from, std::string_view to)
{
    if (name.starts_with(from) && (name.size() == from.size() || name[from.size()] == ':'))
        return std::string(to) + std::string(name.substr(from.size()));
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
