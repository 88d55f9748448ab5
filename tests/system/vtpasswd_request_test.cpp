// The command's request handling and OS rules, on the real binary.
#include "support/records.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

using namespace vttest;

namespace {

class Request : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = sandbox_unavailable(); !why.empty())
            GTEST_SKIP() << why;
    }
    sandbox box;
};

const std::string usage = "Usage: vtpasswd user passwd [oldpasswd]\n";

TEST_F(Request, TooFewFieldsGiveTheUsageAndTouchNothing)
{
    for (const char* input : {"\n", "alice\n", "alice", "alice\r\n", "a\tb\n"}) {
        run_result r = box.run(input);
        EXPECT_EQ(r.status, 1) << input;
        EXPECT_EQ(r.out, "vtpasswd> ");
        EXPECT_EQ(r.err, usage);
    }
    EXPECT_FALSE(file_exists(box.etc_dir()));
    run_result r = box.run("\n", {}, "/opt/bin/vtpasswd");
    EXPECT_EQ(r.err, "Usage: /opt/bin/vtpasswd user passwd [oldpasswd]\n");
}

// Standard input that never ends a line, under a memory limit: the line cannot be held.
void endless_line_in_little_memory()
{
    ::alarm(60); // a run that reads on for ever ends, the test goes on
    const int zero = ::open("/dev/zero", O_RDONLY | O_CLOEXEC);
    if (zero < 0 || ::dup2(zero, 0) != 0)
        std::_Exit(125);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer reserves far more address space than any limit would allow; its allocator
    // is told to fail large requests instead.
    const char* given = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(given ? given : "") + ":allocator_may_return_null=1:max_allocation_size_mb=64";
    ::setenv("ASAN_OPTIONS", options.c_str(), 1);
#else
    const rlimit little{256 << 20, 256 << 20};
    if (::setrlimit(RLIMIT_AS, &little) != 0)
        std::_Exit(125);
#endif
}

TEST_F(Request, ALineThatCannotBeReadIsAnUncaughtFailureNamingWhy)
{
    const std::pair<child_setup, std::string> cases[] = {
        {{}, "End_of_file"}, // end of input before any character
        {endless_line_in_little_memory, "Out_of_memory"},
    };
    for (const auto& [setup, name] : cases) {
        run_result r = box.run("", {}, "vtpasswd", setup);
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_EQ(r.out, "vtpasswd> ");
        // The sanitizer may have said beforehand that it refused the memory.
        const std::string fatal = "Fatal error: uncaught exception " + name + "\n";
        EXPECT_TRUE(r.err.ends_with(fatal) && r.err.find("Fatal") == r.err.size() - fatal.size()) << r.err;
    }
}

TEST_F(Request, FieldsSplitAtEverySingleSpace)
{
    // "bob " sets an empty password; "carol  old" has an empty new password and "old" as old one.
    ASSERT_EQ(box.run("bob \n").status, 0);
    ASSERT_EQ(box.run("carol  x y z\n").status, 0);
    // A leading space is an empty user name, stored as twenty spaces.
    run_result r = box.run(" pw\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Password changed for user .\n");
    // A carriage return stays part of the last field: the password "pw\r", not "pw".
    ASSERT_EQ(box.run("dave pw\r\n").status, 0);
    EXPECT_EQ(box.run("dave new pw\n").err, "Bad old passwd pw for dave. Please try again.\n");
    EXPECT_EQ(box.run("dave new pw\r\n").status, 0);

    std::vector<std::string> lines = lines_of(read_file(box.users()));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(field(lines[0], 0, 21), "bob                  ");
    EXPECT_EQ(field(lines[1], 0, 21), "carol                ");
    EXPECT_EQ(field(lines[2], 0, 21), std::string(21, ' '));
    // The empty password and the fields after the third: "carol" changes with old "" only.
    EXPECT_EQ(box.run("bob z\n").status, 0);
    EXPECT_EQ(box.run("carol q \n").status, 0);
}

TEST_F(Request, DirectoriesAreCreatedWithMode0700OnUnixIdentities)
{
    for (const char* os : {"FreeBSD", "Linux", "Solaris"}) {
        sandbox fresh;
        run_result r = fresh.run("u p\n", {{"OS_TYPE", os}});
        EXPECT_EQ(r.status, 0) << os << r.err;
        EXPECT_EQ(file_mode(fresh.root() + "/etc"), 0700u) << os;
        EXPECT_EQ(file_mode(fresh.etc_dir()), 0700u) << os;
        EXPECT_EQ(file_mode(fresh.users()), 0600u);
        EXPECT_EQ(file_mode(fresh.backup()), 0600u);
    }
    // Neither variable set: the platform's own answer, FreeBSD, creates them too; OS counts
    // when OS_TYPE is unset.
    for (environment env : {environment{{"OS_TYPE", std::nullopt}, {"OS", std::nullopt}},
                            environment{{"OS_TYPE", std::nullopt}, {"OS", "Linux"}}}) {
        sandbox fresh;
        EXPECT_EQ(fresh.run("u p\n", env).status, 0);
        EXPECT_TRUE(file_exists(fresh.users()));
    }
}

TEST_F(Request, ExistingDirectoriesKeepTheirModes)
{
    box.make_etc();
    ::chmod(box.etc_dir().c_str(), 0755);
    ASSERT_EQ(box.run("u p\n", {{"OS_TYPE", "Linux"}}).status, 0);
    EXPECT_EQ(file_mode(box.etc_dir()), 0755u);
}

TEST_F(Request, OtherIdentitiesCreateNoDirectory)
{
    // OS_TYPE set, even empty, wins over OS; other names behave as Unix without creation.
    for (environment env : {environment{{"OS_TYPE", "Plan9"}}, environment{{"OS_TYPE", ""}, {"OS", "Linux"}},
                            environment{{"OS_TYPE", "linux"}}}) {
        run_result r = box.run("u p\n", env);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Could not open password file " VT_ETC_DIR "/vanto_users.dat. Please check that the "
                         "directory exists with the appropriate permissions set.\n");
        EXPECT_FALSE(file_exists(box.root() + "/etc"));
    }
    box.make_etc();
    run_result r = box.run("u p\n", {{"OS_TYPE", "Plan9"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Password changed for user u.\n");
}

TEST_F(Request, UncreatableDirectoryIsAnUncaughtFailure)
{
    // A plain file where the etc directory's parent should be.
    write_file(box.root() + "/etc", "not a directory");
    run_result r = box.run("u p\n", {{"OS_TYPE", "FreeBSD"}});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Fatal error: uncaught exception Unix.Unix_error(Unix.ENOTDIR, \"mkdir\", \"" VT_ETC_DIR
                     "\")\n") << r.err;
}

TEST_F(Request, WindowsIdentityCallsSetPermissionsAndDeletesWithDel)
{
    box.make_etc();
    const environment nt{{"OS_TYPE", std::nullopt}, {"OS", "Windows_NT"}};
    run_result first = box.run("u p\n", nt);
    EXPECT_EQ(first.status, 0);
    // Both opens report the call, each line without a newline of its own.
    std::regex shape("(ERR \\(\\d\\d:\\d\\d:\\d\\d\\):: set_permissions called in Unix!){2}"
                     "Password changed for user u\\.\n");
    EXPECT_TRUE(std::regex_match(first.err, shape)) << first.err;
    // The second run finds a backup to delete with "del", which this host lacks; the backup
    // is still replaced by the previous content.
    const std::string before = read_file(box.users());
    run_result second = box.run("v p\n", nt);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(read_file(box.backup()), before);
    EXPECT_EQ(lines_of(read_file(box.users())).size(), 2u);
}

} // namespace
