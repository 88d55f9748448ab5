// The product's log directory and a printer of bit strings for diagnosing wire data.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace cutil {

// "/var/log/tessaroul" on the home build: compiled in, whatever the environment says.
std::string get_log_directory();

// Prints the first `bits` bits of the bytes to standard output, least significant bit of each
// byte first, then a newline. Bits past the end of the bytes are not printed.
void bin_print(std::span<const unsigned char> bytes, std::size_t bits);

} // namespace cutil
