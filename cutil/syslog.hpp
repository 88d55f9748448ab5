// Forwarding the service's messages to syslog by the product's level numbers.
#pragma once

#include <syslog.h>

#include <array>
#include <string_view>

namespace cutil {

// Syslog priorities by (level - 200) / 100: 101-299 debug, 300-399 warning, 400-499 error.
inline constexpr std::array<int, 3> CODES = {LOG_DEBUG, LOG_WARNING, LOG_ERR};

// The priority for a level number. A level below the table logs at LOG_DEBUG and one above it
// at LOG_ERR, so that a stray number never reads outside CODES.
int syslog_priority(long level);

// Sends the message verbatim ("%" included) at the level's priority.
void vtsyslog(long level, std::string_view message);

} // namespace cutil
