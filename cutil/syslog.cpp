#include "cutil/syslog.hpp"

#include <string>

namespace cutil {

int syslog_priority(long level)
{
    // The table covers 101 to 499, where (level - 200) / 100, truncated toward zero, is 0 to 2.
    // Outside it the level is clamped before any arithmetic, so no level can overflow.
    if (level < 101)
        return CODES.front();
    if (level > 499)
        return CODES.back();
    return CODES[static_cast<std::size_t>((level - 200) / 100)];
}

void vtsyslog(long level, std::string_view message)
{
    // The message is an argument, never the format; the copy ends it for the C call.
    std::string text(message);
    ::syslog(syslog_priority(level), "%s", text.c_str());
}

} // namespace cutil
