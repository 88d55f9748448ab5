#include "command/failure.hpp"
#include "command/vtfiles.hpp"
#include "cutil/host.hpp"
#include "cutil/report.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>

using Vtfiles::os_t;

namespace {

TEST(HostCalls, OsStringsAreExactAndTheEnvironmentRuleHolds)
{
    for (os_t os : {os_t::Linux, os_t::Solaris, os_t::FreeBSD, os_t::WinNT, os_t::OS_UNDEF})
        EXPECT_EQ(Vtfiles::os_of_string(Vtfiles::string_of_os(os)), os);
    EXPECT_EQ(Vtfiles::os_of_string("linux"), os_t::OS_UNDEF);
    // Unit-level only: the system tests cover what each identity does to a run.
    ::unsetenv("OS_TYPE");
    ::unsetenv("OS");
    EXPECT_EQ(Vtfiles::os_string_from_environment(), "FreeBSD");
}

TEST(HostCalls, UmaskAnswersThePreviousMask)
{
    const int saved = cutil::call_umask(077);
    EXPECT_EQ(cutil::call_umask(022), 077);
    EXPECT_EQ(cutil::call_umask(0x10000 | 0), 022); // only the low 16 bits count
    cutil::call_umask(saved);
}

TEST(HostCalls, RandomTokensAreIndependent)
{
    EXPECT_NE(cutil::make_random(), cutil::make_random());
}

TEST(HostCalls, ErrorLinesAreTimedVerbatimAndUnterminated)
{
    ::testing::internal::CaptureStderr();
    cutil::report_error("100% done %s\n");
    EXPECT_EQ(cutil::set_permissions("/no/such/file"), "set_permissions was called in unix");
    const std::string err = ::testing::internal::GetCapturedStderr();
    std::regex shape("ERR \\(\\d\\d:\\d\\d:\\d\\d\\):: 100% done %s\n"
                     "ERR \\(\\d\\d:\\d\\d:\\d\\d\\):: set_permissions called in Unix!");
    EXPECT_TRUE(std::regex_match(err, shape)) << err;
    // A day below 10 has two blanks before it in ctime's text.
    EXPECT_EQ(cutil::time_token_of_ctime("Sun Dec  6 00:06:15 2026\n"), "00:06:15");
}

TEST(OpenHelpers, WritingWithoutTruncateKeepsTheTailAndFailuresNameThePath)
{
    char tmpl[] = "/tmp/vtopen.XXXXXX";
    ::close(::mkstemp(tmpl));
    const std::string path = tmpl;
    vttest::write_file(path, "0123456789");
    using Vtfiles::open_flag;
    Vtfiles::out_channel out = Vtfiles::vt_open_out_gen({open_flag::wronly, open_flag::creat}, 0600, path);
    out.write("ab", 2);
    out.close();
    EXPECT_EQ(vttest::read_file(path), "ab23456789");
    ::unlink(path.c_str());

    try {
        Vtfiles::vt_open_in("/no/such/dir/file");
        ADD_FAILURE();
    } catch (const Vtfailure::failure& f) {
        EXPECT_EQ(f.describe(), "Sys_error(\"/no/such/dir/file: No such file or directory\")");
    }
}

} // namespace
