#include "cutil/report.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace cutil {

char err_buf[err_buf_size];

std::string_view compose_err(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(err_buf, sizeof err_buf, format, args);
    va_end(args);
    if (n < 0)
        err_buf[0] = '\0';
    return err_buf;
}

std::string time_token_of_ctime(std::string_view ctime_text)
{
    // ctime pads a day below 10 with a second blank; runs of blanks count as one.
    std::size_t pos = 0;
    for (int field = 0;; ++field) {
        pos = ctime_text.find_first_not_of(" \t\n", pos);
        if (pos == std::string_view::npos)
            return {};
        std::size_t end = ctime_text.find_first_of(" \t\n", pos);
        if (end == std::string_view::npos)
            end = ctime_text.size();
        if (field == 3)
            return std::string(ctime_text.substr(pos, end - pos));
        pos = end;
    }
}

std::string time_token()
{
    std::time_t now = std::time(nullptr);
    char text[64];
    // ctime would read the time zone again on every call; ctime_r does not, so ask it to.
    ::tzset();
    if (ctime_r(&now, text) == nullptr)
        return {};
    return time_token_of_ctime(text);
}

static void print_line(std::FILE* stream, const char* level, std::string_view message)
{
    std::string line = std::string(level) + " (" + time_token() + "):: ";
    line.append(message);
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

void report_error(std::string_view message) { print_line(stderr, "ERR", message); }
void debug_print(std::string_view message) { print_line(stdout, "DEBUG", message); }
void report_warning(std::string_view message) { print_line(stdout, "WARNING", message); }

void report_untimed(std::string_view message)
{
    std::string line = "ERR:: ";
    line.append(message);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void report_perror(const char* text)
{
    int saved = errno;
    std::string line = std::string(text) + ": " + std::strerror(saved) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    errno = saved;
}

int get_lasterr() { return errno; }

} // namespace cutil
