#include "cutil/syslog.hpp"

#include <string>

namespace cutil {

int syslog_priority(long level)
{
    // Division truncates toward zero, so 101..299 all land on index 0. Compute in 64 bits so
    // that extreme levels cannot overflow the subtraction.
    long long index = (static_cast<long long>(level) - 200) / 100;
    if (index < 0)
        return CODES.front();
    if (index >= static_cast<long long>(CODES.size()))
        return CODES.back();
    return CODES[static_cast<std::size_t>(index)];
}

void vtsyslog(long level, std::string_view message)
{
    // The message is an argument, never the format; the copy ends it for the C call.
    std::string text(message);
    ::syslog(syslog_priority(level), "%s", text.c_str());
}

} // namespace cutil
