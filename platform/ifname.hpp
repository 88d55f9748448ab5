// The product calls the loopback interface "lo0"; a host whose kernel calls it otherwise
// translates that one name both ways at its backend's edge, and no other. The two names trade
// places: the host's own loopback name is not the product's, so a host interface that happens
// to carry the product's name stays reachable under the host's.
#pragma once

#include <string>
#include <string_view>

namespace cutil::platform {

inline constexpr std::string_view product_loopback = "lo0";

// The product's name for a host interface name ("lo" -> "lo0", "lo:1" -> "lo0:1", "lo0" -> "lo").
std::string product_ifname(std::string_view host_name, std::string_view host_loopback);
// The host's name for a product interface name ("lo0" -> "lo", "lo0:1" -> "lo:1", "lo" -> "lo0").
std::string host_ifname(std::string_view product_name, std::string_view host_loopback);

} // namespace cutil::platform
