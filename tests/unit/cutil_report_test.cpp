// What the reporters print, the bounded error buffer, syslog levels and time stamps.
#include "cutil/diagnostics.hpp"
#include "cutil/report.hpp"
#include "cutil/syslog.hpp"
#include "cutil/timestamp.hpp"
#include "support/child.hpp"
#include "support/console.hpp"

#include <unistd.h>

using namespace cutil;

TEST(ConsoleShapes, Reporters)
{
    auto r = vttest::run_in_child([] {
        const unsigned char one[] = {0x01}, two[] = {0x01, 0x82};
        bin_print(one, 0);
        bin_print(two, 12);
        bin_print(one, 1000); // more bits than the byte holds
        debug_print("50% done %s %n");
        debug_print("same line\n"); // no newline was added before
        report_warning("disk %d\n");
        report_error("route %s failed\n");
        report_untimed("arp 100%\n");
        errno = ENOENT;
        const int last = get_lasterr();
        report_perror("open"); // leaves errno for the caller
        ::close(2); // even when its write fails
        report_perror("closed");
        return std::to_string(last) + " " + std::to_string(errno);
    });
    EXPECT_EQ(r.answer, std::to_string(ENOENT) + " " + std::to_string(ENOENT));
    EXPECT_EQ(vttest::timeless(r.out + "|" + r.err),
              "\n100000000100\n10000000\nDEBUG (T):: 50% done %s %n"
              "DEBUG (T):: same line\nWARNING (T):: disk %d\n|ERR (T):: route %s failed\n"
              "ERR:: arp 100%\nopen: No such file or directory\n");
    // A day below 10 has two blanks before it in ctime's text.
    EXPECT_EQ(time_token_of_ctime("Sun Dec  6 00:06:15 2026\n"), "00:06:15");
    const std::string x(3000, 'x');
    EXPECT_EQ(compose_err("%s", x.c_str()), x.substr(0, err_buf_size - 1));
}

TEST(SyslogLevels, Priorities)
{
    const std::pair<long, int> rows[] = {
        {100, LOG_DEBUG},
        {299, LOG_DEBUG},
        {300, LOG_WARNING},
        {400, LOG_ERR},
        {500, LOG_ERR}};
    for (auto [level, priority] : rows)
        EXPECT_EQ(syslog_priority(level), priority) << level;
}

TEST(TimeStamps, DifferenceBeyondHalfAnHour)
{
    const time_stamp a{10, 999999}, b{11, 0}, later{3610, 999999};
    const std::tuple<time_stamp, time_stamp, long long> rows[] = {
        {a, b, 1},
        {b, a, -1},
        {a, later, 3600000000}};
    for (auto [from, to, diff] : rows)
        EXPECT_EQ(timediff(from, to), diff) << to.seconds;
}
