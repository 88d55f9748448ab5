#include "cutil/diagnostics.hpp"
#include "cutil/report.hpp"
#include "cutil/timestamp.hpp"
#include "support/child.hpp"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <regex>
#include <string>

using vttest::run_in_child;

TEST(ConsoleShapes, EachReporterHasItsPrefixStreamAndVerbatimMessage)
{
    auto r = run_in_child([] {
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
        const int failed = ::open("/nonexistent-vt/file", O_RDONLY);
        const int last = cutil::get_lasterr();
        cutil::report_perror("open");
        return std::to_string(failed) + " " + std::to_string(last) + " " + std::to_string(errno);
    });
    ASSERT_EQ(r.status, 0);
    const std::string t = "\\(\\d\\d:\\d\\d:\\d\\d\\)";
    EXPECT_TRUE(std::regex_match(r.out, std::regex("10000000\n\n100000000100\n10000000\nDEBUG " + t +
                                                   ":: 50% done %s %nDEBUG " + t + ":: same line\nWARNING " +
                                                   t + ":: disk %d\n")))
        << r.out;
    EXPECT_TRUE(std::regex_match(r.err, std::regex("ERR " + t + ":: route %s failed\nERR:: arp 100%\n"
                                                   "open: No such file or directory\n")))
        << r.err;
    // The last error is the failed open's, and the perror form leaves it for the caller.
    EXPECT_EQ(r.answer, "-1 " + std::to_string(ENOENT) + " " + std::to_string(ENOENT));
}

TEST(ErrorBuffer, EveryComposedTextStaysWithinItsBytes)
{
    const std::string long_text(3000, 'x');
    std::string_view got = cutil::compose_err("setsendbuf: SO_SNDBUF: %s", long_text.c_str());
    EXPECT_EQ(got.size(), 1023u);
    EXPECT_EQ(std::strlen(cutil::err_buf), 1023u);
    EXPECT_EQ(got.substr(0, 23), "setsendbuf: SO_SNDBUF: ");
    EXPECT_EQ(cutil::compose_err("short %d", 7), "short 7");
    EXPECT_EQ(std::strlen(cutil::err_buf), 7u);
}

TEST(TimeStamps, DifferenceIsExactOverTheWholeRange)
{
    using cutil::time_stamp;
    time_stamp a{10, 999999}, b{11, 0}, lowest{INT32_MIN, 0}, highest{INT32_MAX, 999999};
    EXPECT_EQ(cutil::timediff(a, a), 0);
    EXPECT_EQ(cutil::timediff(a, b), 1);
    EXPECT_EQ(cutil::timediff(b, a), -1);
    const long long span = (static_cast<long long>(INT32_MAX) - INT32_MIN) * 1000000 + 999999;
    EXPECT_EQ(cutil::timediff(lowest, highest), span);
    EXPECT_EQ(cutil::timediff(highest, lowest), -span);
    const time_stamp now = cutil::gettime();
    EXPECT_LE(now.microseconds, 999999);
    EXPECT_GT(cutil::timediff(cutil::null_time(), now), 0);
}
