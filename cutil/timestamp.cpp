#include "cutil/timestamp.hpp"

#include <sys/time.h>

namespace cutil {

time_stamp gettime()
{
    timeval now{};
    ::gettimeofday(&now, nullptr);
    // The stamp's seconds are 32 bits wide by format; the cast keeps the low bits as stored.
    return {static_cast<std::int32_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_usec)};
}

time_stamp null_time() { return {}; }

std::int64_t timediff(const time_stamp& earlier, const time_stamp& later)
{
    // In 64 bits: two extreme stamps lie about 2^32 seconds apart, far beyond 32-bit microseconds.
    std::int64_t seconds = static_cast<std::int64_t>(later.seconds) - earlier.seconds;
    std::int64_t micros = static_cast<std::int64_t>(later.microseconds) - earlier.microseconds;
    return seconds * 1000000 + micros;
}

} // namespace cutil
