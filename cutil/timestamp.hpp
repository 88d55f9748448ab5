// Time stamps with microsecond resolution, as the service stores and exchanges them.
#pragma once

#include <cstdint>

namespace cutil {

// Eight bytes in host order: signed 32-bit seconds since the epoch, then signed 32-bit
// microseconds (0 to 999,999).
struct time_stamp {
    std::int32_t seconds = 0;
    std::int32_t microseconds = 0;
};
static_assert(sizeof(time_stamp) == 8, "a time stamp is eight bytes");

// The time of day now.
time_stamp gettime();
// A stamp that holds no time yet: all zeros.
time_stamp null_time();
// Later minus earlier, in microseconds; negative when "later" is the earlier one. Exact over
// the whole range of the stamp.
std::int64_t timediff(const time_stamp& earlier, const time_stamp& later);

} // namespace cutil
