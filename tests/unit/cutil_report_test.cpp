// The console shapes of the reporting code, its bounded error buffer, the syslog levels and the time stamps.
#include "cutil/diagnostics.hpp"
#include "cutil/report.hpp"
#include "cutil/syslog.hpp"
#include "cutil/timestamp.hpp"
#include "support/child.hpp"
#include "support/console.hpp"

#include <fcntl.h>

TEST(ConsoleShapes, Reporters)
{
    auto r = vttest::run_in_child([] {
        const unsigned char one[] = {0x01}, two[] = {0x01, 0x82};
        cutil::bin_print(one, 8);
        cutil::bin_print(one, 0);
        cutil::bin_print(two, 12);
        cutil::bin_print(one, 1000); // more bits than the byte holds
        cutil::debug_print("50% done %s %n");
        cutil::debug_print("same line\n"); // no newline was added: this continues the line
        cutil::report_warning("disk %d\n");
        cutil::report_error("route %s failed\n");
        cutil::report_untimed("arp 100%\n");
        const int failed = ::open("/nonexistent-vt/file", O_RDONLY), last = cutil::get_lasterr();
        cutil::report_perror("open"); // leaves errno for the caller
        return std::to_string(failed) + " " + std::to_string(last) + " " + std::to_string(errno);
    });
    EXPECT_EQ(std::to_string(r.status) + " " + r.answer, "0 -1 " + std::to_string(ENOENT) + " " + std::to_string(ENOENT));
    EXPECT_EQ(vttest::timeless(r.out + "|" + r.err),
              "10000000\n\n100000000100\n10000000\nDEBUG (T):: 50% done %s %nDEBUG (T):: same line\nWARNING (T):: disk %d\n"
              "|ERR (T):: route %s failed\nERR:: arp 100%\nopen: No such file or directory\n");
    // A day below 10 has two blanks before it in ctime's text.
    EXPECT_EQ(cutil::time_token_of_ctime("Sun Dec  6 00:06:15 2026\n"), "00:06:15");
    EXPECT_EQ(cutil::compose_err("setsendbuf: SO_SNDBUF: %s", std::string(3000, 'x').c_str()), "setsendbuf: SO_SNDBUF: " + std::string(1000, 'x'));
}

TEST(SyslogLevels, Priorities)
{
    const std::pair<long, int> rows[] = {
        {100, LOG_DEBUG},
        {299, LOG_DEBUG},
        {300, LOG_WARNING},
        {399, LOG_WARNING},
        {400, LOG_ERR},
        {499, LOG_ERR},
        {500, LOG_ERR}};
    for (auto [level, priority] : rows)
        EXPECT_EQ(cutil::syslog_priority(level), priority) << level;
}

TEST(TimeStamps, DifferenceBeyondHalfAnHour)
{
    const cutil::time_stamp a{10, 999999}, b{11, 0}, later{3610, 999999};
    const std::tuple<cutil::time_stamp, cutil::time_stamp, long long> rows[] = {
        {a, b, 1},
        {b, a, -1},
        {a, later, 3600000000}};
    for (auto [from, to, diff] : rows)
        EXPECT_EQ(cutil::timediff(from, to), diff) << to.seconds;
}
