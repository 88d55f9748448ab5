// A broken promise ends the fuzz run, so that libFuzzer keeps the input that broke it.
#pragma once

#include <sanitizer/common_interface_defs.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace vtfuzz {

inline void require(bool holds, const char* promise)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken promise: %s\n", promise);
    __sanitizer_report_error_summary(promise); // seen even with the output closed
    std::abort();
}

inline std::string_view text_of(const std::uint8_t* data, std::size_t size) { return {reinterpret_cast<const char*>(data), size}; }

} // namespace vtfuzz
