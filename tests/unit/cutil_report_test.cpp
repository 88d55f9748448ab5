#include "cutil/diagnostics.hpp"
#include "cutil/report.hpp"
#include "cutil/timestamp.hpp"
#include "support/child.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <regex>
#include <string>

using vttest::run_in_child;

TEST(ConsoleShapes, EachLevelHasItsPrefixStreamAndVerbatimMessage)
{
    auto r = run_in_child([] {
        cutil::debug_print("50% done %s %n");
        cutil::debug_print("same line\n");
        cutil::report_warning("disk %d\n");
        cutil::report_error("route %s failed\n");
        cutil::report_untimed("arp 100%\n");
        errno = ENOENT;
        cutil::report_perror("open");
        return std::to_string(errno);
    });
    ASSERT_EQ(r.status, 0);
    const std::string t = "\\(\\d\\d:\\d\\d:\\d\\d\\)";
    // No newline is added: the second debug line continues the first.
    EXPECT_TRUE(std::regex_match(r.out, std::regex("DEBUG " + t + ":: 50% done %s %nDEBUG " + t +
                                                   ":: same line\nWARNING " + t + ":: disk %d\n")))
        << r.out;
    EXPECT_TRUE(std::regex_match(r.err, std::regex("ERR " + t + ":: route %s failed\nERR:: arp 100%\n"
                                                   "open: No such file or directory\n")))
        << r.err;
    // perror's form leaves errno for the caller.
    EXPECT_EQ(r.answer, std::to_string(ENOENT));
}

TEST(ErrorBuffer, EveryComposedTextStaysWithinItsBytes)
{
    const std::string long_text(3000, 'x');
    std::string_view got = cutil::compose_err("setsendbuf: SO_SNDBUF: %s", long_text.c_str());
    EXPECT_EQ(got.size(), cutil::err_buf_size - 1);
    EXPECT_EQ(got.substr(0, 23), "setsendbuf: SO_SNDBUF: ");
    EXPECT_EQ(cutil::err_buf[cutil::err_buf_size - 1], '\0');
    EXPECT_EQ(cutil::compose_err("short %d", 7), "short 7");
    EXPECT_EQ(std::strlen(cutil::err_buf), 7u);
}

TEST(ErrorBuffer, LastErrorIsTheFailedOpensCode)
{
    int fd = ::open("/nonexistent-vt/file", O_RDONLY);
    ASSERT_LT(fd, 0);
    EXPECT_EQ(cutil::get_lasterr(), ENOENT);
}

TEST(TimeStamps, DifferenceIsExactOverTheWholeRange)
{
    using cutil::time_stamp;
    time_stamp a{10, 999999}, b{11, 0};
    EXPECT_EQ(cutil::timediff(a, a), 0);
    EXPECT_EQ(cutil::timediff(a, b), 1);
    EXPECT_EQ(cutil::timediff(b, a), -1);
    // Beyond 2^31 microseconds, where a 32-bit result would wrap.
    EXPECT_EQ(cutil::timediff({0, 0}, {3600, 0}), 3600000000LL);
    time_stamp lowest{INT32_MIN, 0}, highest{INT32_MAX, 999999};
    const long long span = (static_cast<long long>(INT32_MAX) - INT32_MIN) * 1000000 + 999999;
    EXPECT_EQ(cutil::timediff(lowest, highest), span);
    EXPECT_EQ(cutil::timediff(highest, lowest), -span);
}

TEST(TimeStamps, NullTimeIsAllZeroAndNowIsAValidStamp)
{
    cutil::time_stamp z = cutil::null_time();
    unsigned char bytes[sizeof z];
    std::memcpy(bytes, &z, sizeof z);
    for (unsigned char b : bytes)
        EXPECT_EQ(b, 0);
    cutil::time_stamp now = cutil::gettime();
    EXPECT_GE(now.microseconds, 0);
    EXPECT_LE(now.microseconds, 999999);
    EXPECT_GT(cutil::timediff(z, now), 0);
}

TEST(Diagnostics, BitsPrintLeastSignificantFirstAndStopAtTheBytes)
{
    auto r = run_in_child([] {
        const unsigned char one[] = {0x01};
        const unsigned char two[] = {0x01, 0x82};
        cutil::bin_print(one, 8);
        cutil::bin_print(one, 0);
        cutil::bin_print(two, 12);
        cutil::bin_print(one, 1000); // more bits than the byte holds
        return std::string();
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "10000000\n\n100000000100\n10000000\n");
}

TEST(Diagnostics, LogDirectoryIsCompiledInAndEachAnswerIsTheCallersOwn)
{
    std::string first = cutil::get_log_directory();
    EXPECT_EQ(first, "/var/log/tessaroul");
    first += "/changed";
    EXPECT_EQ(cutil::get_log_directory(), "/var/log/tessaroul");
}
