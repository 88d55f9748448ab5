// Reading and writing structures at any byte position: kernel bytes carry no alignment promise.
#pragma once

#include <cstddef>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

namespace cutil::bsd {

using bytes = std::vector<std::byte>;

template <class T>
    requires std::is_trivially_copyable_v<T>
T load(const std::byte* at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Loads a structure of which only `available` bytes exist; the rest reads as zero.
template <class T>
    requires std::is_trivially_copyable_v<T>
T load_part(const std::byte* at, std::size_t available)
{
    T value{};
    std::memcpy(&value, at, available < sizeof value ? available : sizeof value);
    return value;
}

template <class T>
    requires std::is_trivially_copyable_v<T>
void append(bytes& out, const T& value, std::size_t length = sizeof(T))
{
    const auto* p = reinterpret_cast<const std::byte*>(&value);
    std::size_t n = length < sizeof(T) ? length : sizeof(T);
    out.insert(out.end(), p, p + n);
    out.resize(out.size() + (length - n));
}

} // namespace cutil::bsd
