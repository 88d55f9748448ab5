// Interface names in the 16-byte name field of the interface requests.
#pragma once

#include "platform/bsd.hpp"

#include <cstring>
#include <string_view>

namespace cutil {

// Copies the name into the field with its terminator. A name the field cannot hold whole (16
// bytes or more, or empty, or with a NUL inside) is refused, never cut: a cut name could be
// another interface's.
inline bool fill_name_field(char (&field)[bsd::ifnamsiz], std::string_view name)
{
    if (name.empty() || name.size() >= bsd::ifnamsiz || name.find('\0') != std::string_view::npos)
        return false;
    std::memset(field, 0, sizeof field);
    std::memcpy(field, name.data(), name.size());
    return true;
}

} // namespace cutil
