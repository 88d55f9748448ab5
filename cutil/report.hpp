// The console shapes every library message takes, and the library's shared error text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cutil {

inline constexpr std::size_t err_buf_size = 1024;
// The last message a failing operation composed; always NUL-terminated within its 1024 bytes.
extern char err_buf[err_buf_size];

// Composes into err_buf, cut to fit, and answers what it holds.
[[gnu::format(printf, 1, 2)]] std::string_view compose_err(const char* format, ...);

// The time of day as HH:MM:SS, the fourth blank-separated field of ctime's text.
std::string time_token();
// The same, taken from a ctime text; empty when the text has fewer than four fields.
std::string time_token_of_ctime(std::string_view ctime_text);

// "ERR (%s):: %s" on standard error, flushed. The message is printed verbatim.
void report_error(std::string_view message);
// "DEBUG (%s):: %s" and "WARNING (%s):: %s" on standard output, flushed.
void debug_print(std::string_view message);
void report_warning(std::string_view message);
// The untimed "ERR:: %s" of the ICMP and ARP operations, on standard error, flushed.
void report_untimed(std::string_view message);
// perror's form: the text, a colon, a blank and the system's text for errno.
void report_perror(const char* text);

// The current errno, for callers that report a failure after the fact.
int get_lasterr();

} // namespace cutil
