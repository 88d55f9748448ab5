#include "cutil/diagnostics.hpp"

#include <algorithm>
#include <cstdio>

namespace cutil {

std::string get_log_directory() { return VT_LOG_DIR; }

void bin_print(std::span<const unsigned char> bytes, std::size_t bits)
{
    // A count larger than the bytes given would read past them; print what is there.
    bits = std::min(bits, bytes.size() * 8);
    for (std::size_t k = 0; k < bits; ++k)
        std::putchar(((bytes[k / 8] >> (k % 8)) & 1) ? '1' : '0');
    std::putchar('\n');
}

} // namespace cutil
