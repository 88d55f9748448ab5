// Any hexadecimal field of the user file gives the bytes asked for; hexadecimal text decodes to bytes that encode back to it.
#include "command/vtpwdhdr.hpp"
#include "fuzz/check.hpp"

#include <algorithm>
#include <cctype>

// The first byte is the count of bytes asked for; the rest is the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int len = data[0] % 40;
    const std::string_view hex = vtfuzz::text_of(data + 1, size - 1);
    const std::string bin = Vtpwdhdr::hex_to_bin(hex, len);
    vtfuzz::require(bin.size() == static_cast<std::size_t>(len), "len bytes");
    const std::size_t digits = 2 * static_cast<std::size_t>(len);
    std::string padded(digits > hex.size() ? digits - hex.size() : 0, '0');
    for (const unsigned char c : hex.substr(0, digits - padded.size()))
        padded += static_cast<char>(std::tolower(c));
    if (std::all_of(padded.begin(), padded.end(), [](unsigned char c) { return std::isxdigit(c) != 0; }))
        vtfuzz::require(Vtpwdhdr::bin_to_hex(bin, len) == padded, "hexadecimal text decodes to bytes that encode back to it");
    vtfuzz::require(Vtpwdhdr::bin_to_hex(hex, len).size() == digits, "2 x len digits from any bytes");
    return 0;
}
