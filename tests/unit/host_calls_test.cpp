#include "command/failure.hpp"
#include "command/vtfiles.hpp"
#include "cutil/host.hpp"
#include "cutil/report.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <regex>

using Vtfiles::os_t;

namespace {

TEST(OsIdentity, StringFormsAndTheEnvironmentRule)
{
    for (os_t os : {os_t::Linux, os_t::Solaris, os_t::FreeBSD, os_t::WinNT, os_t::OS_UNDEF})
        EXPECT_EQ(Vtfiles::os_of_string(Vtfiles::string_of_os(os)), os);
    EXPECT_EQ(Vtfiles::string_of_os(os_t::WinNT), "Windows_NT");
    EXPECT_EQ(Vtfiles::os_of_string("linux"), os_t::OS_UNDEF);
    EXPECT_EQ(Vtfiles::os_of_string(""), os_t::OS_UNDEF);

    ::setenv("OS_TYPE", "Linux", 1);
    ::setenv("OS", "Windows_NT", 1);
    EXPECT_EQ(Vtfiles::os_string_from_environment(), "Linux");
    ::setenv("OS_TYPE", "", 1);
    EXPECT_EQ(Vtfiles::os_string_from_environment(), "");
    ::unsetenv("OS_TYPE");
    EXPECT_EQ(Vtfiles::os_string_from_environment(), "Windows_NT");
    ::unsetenv("OS");
    EXPECT_EQ(Vtfiles::os_string_from_environment(), "FreeBSD");
}

TEST(HostCalls, ConstantsAndUmask)
{
    std::string etc = cutil::get_etc_directory();
    etc += "changed";
    EXPECT_EQ(cutil::get_etc_directory(), VT_ETC_DIR);
    EXPECT_EQ(cutil::get_os_type(), "FreeBSD");
    EXPECT_EQ(cutil::file_sep(), "/");

    const int saved = cutil::call_umask(077);
    EXPECT_EQ(cutil::call_umask(022), 077);
    EXPECT_EQ(cutil::call_umask(0x10000 | 0), 022);
    cutil::call_umask(saved);
}

TEST(HostCalls, RandomTokensAreSixteenIndependentBytes)
{
    cutil::random_token a = cutil::make_random();
    cutil::random_token b = cutil::make_random();
    EXPECT_EQ(a.size(), 16u);
    EXPECT_NE(a, b);
}

TEST(HostCalls, ErrorLinesAreTimedVerbatimAndUnterminated)
{
    ::testing::internal::CaptureStderr();
    cutil::report_error("100% done %s\n");
    EXPECT_EQ(cutil::set_permissions("/no/such/file"), "set_permissions was called in unix");
    const std::string err = ::testing::internal::GetCapturedStderr();
    std::regex shape("ERR \\((\\d\\d):(\\d\\d):(\\d\\d)\\):: 100% done %s\n"
                     "ERR \\(\\d\\d:\\d\\d:\\d\\d\\):: set_permissions called in Unix!");
    EXPECT_TRUE(std::regex_match(err, shape)) << err;
}

TEST(HostCalls, TimeTokenIsTheFourthBlankSeparatedFieldOfCtime)
{
    EXPECT_EQ(cutil::time_token_of_ctime("Sun Dec  6 00:06:15 2026\n"), "00:06:15");
    EXPECT_EQ(cutil::time_token_of_ctime("Mon Nov 16 23:59:59 2026\n"), "23:59:59");
    EXPECT_EQ(cutil::time_token_of_ctime("Mon Nov"), "");
}

TEST(OpenHelpers, WritingWithoutTruncateKeepsTheTailAndFailuresNameThePath)
{
    char tmpl[] = "/tmp/vtopen.XXXXXX";
    ::close(::mkstemp(tmpl));
    const std::string path = tmpl;
    vttest::write_file(path, "0123456789");
    {
        using Vtfiles::open_flag;
        Vtfiles::out_channel out = Vtfiles::vt_open_out_gen({open_flag::wronly, open_flag::creat}, 0600, path);
        out.write("ab", 2);
        out.close();
    }
    EXPECT_EQ(vttest::read_file(path), "ab23456789");
    ::unlink(path.c_str());

    try {
        Vtfiles::vt_open_in("/no/such/dir/file");
        ADD_FAILURE();
    } catch (const Vtfailure::failure& f) {
        EXPECT_EQ(f.describe(), "Sys_error(\"/no/such/dir/file: No such file or directory\")");
    }
}

TEST(OpenHelpers, CreatedFilesTakeThePermissionThroughTheUmask)
{
    char dir[] = "/tmp/vtperm.XXXXXX";
    ASSERT_TRUE(::mkdtemp(dir));
    const std::string path = std::string(dir) + "/f";
    const int saved = cutil::call_umask(027);
    Vtfiles::vt_open_out(path).close();
    cutil::call_umask(saved);
    EXPECT_EQ(vttest::file_mode(path), 0640u);
    ::unlink(path.c_str());
    ::rmdir(dir);
}

} // namespace
