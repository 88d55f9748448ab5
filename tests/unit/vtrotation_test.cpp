#include "command/vtrotation.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(ShellDelete, QuotedPathIsDeletedAsItselfAndNothingElseRuns)
{
    char tmpl[] = "/tmp/vtquote.XXXXXX";
    ASSERT_TRUE(::mkdtemp(tmpl));
    const fs::path dir = tmpl;
    const std::string nasty = "old $(touch pwned) `touch pwned2`; touch pwned3 'it''s' \"q\" * \\ &";
    std::ofstream(dir / nasty) << "x";
    std::ofstream(dir / "old") << "keep";

    int status = Vtpasswd::run_shell("cd " + Vtpasswd::shell_quote(dir.string()) + " && rm " +
                                     Vtpasswd::shell_quote(nasty));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(dir / nasty));
    EXPECT_TRUE(fs::exists(dir / "old"));
    for (const char* planted : {"pwned", "pwned2", "pwned3"})
        EXPECT_FALSE(fs::exists(dir / planted)) << planted;
    fs::remove_all(dir);
}

TEST(ShellDelete, QuotingShape)
{
    EXPECT_EQ(Vtpasswd::shell_quote("/a b"), "'/a b'");
    EXPECT_EQ(Vtpasswd::shell_quote("it's"), "'it'\\''s'");
    EXPECT_EQ(Vtpasswd::shell_quote(""), "''");
}
