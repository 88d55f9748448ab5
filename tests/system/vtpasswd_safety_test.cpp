// Overlapping runs and runs killed at any instant lose nothing, whether the backup is a second
// link to the user file or, where the kernel refuses that link, a copy.
#include "support/records.hpp"
#include "support/sandbox_fixture.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <random>
#include <set>

using namespace vttest;

namespace {

using Safety = sandbox_test;

std::string users_file_of(int count)
{
    std::string content;
    for (int i = 0; i < count; ++i)
        content += filler_record("user" + std::to_string(i), i);
    return content;
}

bool unfinished_files_left(const sandbox& box)
{
    return file_exists(box.users() + ".new") || file_exists(box.backup() + ".new");
}

// nobody owns the etc directory but not the user file (root's, with `mode`): the kernel refuses
// nobody a second link to the file (protected hard links) where a rename would be allowed.
std::string refuse_the_link(const sandbox& box, mode_t mode)
{
    if (::geteuid() != 0)
        return "running as another user needs root";
    if (read_file("/proc/sys/fs/protected_hardlinks") != "1\n")
        return "this kernel links any file, so no link is refused here";
    ::chmod(box.root().c_str(), 0711);
    ::chmod((box.root() + "/etc").c_str(), 0711);
    ::chown(box.etc_dir().c_str(), nobody, nogroup);
    ::chown(box.users().c_str(), 0, 0);
    ::chmod(box.users().c_str(), mode);
    return {};
}

// Kills runs at instants spread across one whole run: the user file is always whole (the
// previous content or the finished new one), and the next run starts from it.
void check_killed_runs(const sandbox& box, const child_setup& as, const std::function<void()>& prepare)
{
    write_file(box.users(), users_file_of(100000));
    prepare();
    const std::string original = read_file(box.users());
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(wait_status(box.start("user5 pw x\n", {}, as)), 1);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    ASSERT_TRUE(read_file(box.users()) == original);

    std::mt19937 rng(12345);
    std::uniform_int_distribution<long> delay(0, std::max<long>(1, whole.count()));
    int interrupted = 0;
    for (int round = 0; round < 12; ++round) {
        prepare();
        const std::string before = read_file(box.users()), name = "killed" + std::to_string(round);
        pid_t pid = box.start(name + " pw\n", {}, as);
        timespec ts{0, delay(rng) * 1000};
        ::nanosleep(&ts, nullptr);
        ::kill(pid, SIGKILL);
        wait_status(pid);
        const std::string now = read_file(box.users());
        if (now == before) {
            ++interrupted;
            continue;
        }
        ASSERT_EQ(now.size(), before.size() + 157) << "round " << round;
        EXPECT_TRUE(now.substr(0, before.size()) == before) << "round " << round;
        EXPECT_EQ(now.substr(before.size(), name.size()), name);
    }
    EXPECT_GT(interrupted, 0) << "no kill landed inside a run";
    prepare();
    const std::string last = read_file(box.users());
    run_result r = box.run("final pw\n", {}, "vtpasswd", as);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string after = read_file(box.users());
    EXPECT_EQ(after.size(), last.size() + 157);
    EXPECT_TRUE(after.substr(0, last.size()) == last) << "the next run did not start from the whole file";
    EXPECT_TRUE(read_file(box.backup()) == last) << "the backup is not the previous content";
    EXPECT_FALSE(unfinished_files_left(box));
}

} // namespace

TEST_F(Safety, OverlappingRunsForDifferentUsersAllLand)
{
    const int existing = 5000, runs = 8;
    write_file(box.users(), users_file_of(existing));
    std::vector<pid_t> pids;
    for (int i = 0; i < runs; ++i)
        pids.push_back(box.start("added" + std::to_string(i) + " pw\n"));
    for (pid_t pid : pids)
        EXPECT_EQ(wait_status(pid), 0);
    const std::string after = read_file(box.users());
    std::set<std::string> names;
    for (const std::string& line : lines_of(after))
        names.insert(line.substr(0, line.find(' ')));
    EXPECT_EQ(after.size(), (existing + runs) * 157u);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(existing + runs));
    EXPECT_TRUE(after.substr(0, existing * 157) == users_file_of(existing)) << "existing records changed";
    EXPECT_FALSE(unfinished_files_left(box));
}

TEST_F(Safety, RunsKilledAtAnyInstantLeaveAWholeFileThatTheNextRunStartsFrom)
{
    {
        SCOPED_TRACE("backup linked");
        check_killed_runs(box, {}, [] {});
    }
    sandbox copied;
    copied.make_etc();
    write_file(copied.users(), "");
    if (std::string why = refuse_the_link(copied, 0644); !why.empty())
        GTEST_SKIP() << "backup copied: " << why;
    SCOPED_TRACE("backup copied");
    check_killed_runs(copied, become_nobody, [&] { refuse_the_link(copied, 0644); });
}

TEST_F(Safety, RefusedBackupLinkFallsBackToACopyWhereARenameWouldHaveWorked)
{
    const std::string before = users_file_of(3);
    // A file nobody may read is refused as the renamed backup would have been: the open fails.
    for (const auto& [mode, status] : {std::pair<mode_t, int>{0644, 0}, {0600, 1}}) {
        write_file(box.users(), before);
        write_file(box.backup(), "an earlier backup");
        ::chown(box.backup().c_str(), 0, 0);
        if (std::string why = refuse_the_link(box, mode); !why.empty())
            GTEST_SKIP() << why;
        run_result r = box.run("added pw\n", {}, "vtpasswd", become_nobody);
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_EQ(r.err, status ? "Could not open password file " VT_ETC_DIR "/vanto_users.dat. Please check that the directory "
                                  "exists with the appropriate permissions set.\n"
                                : "Password changed for user added.\n");
        EXPECT_EQ(read_file(box.backup()), status ? "" : before);
        EXPECT_EQ(read_file(box.users()).substr(0, before.size()), before);
        EXPECT_EQ(read_file(box.users()).substr(before.size(), 6), status ? "" : "added ");
        EXPECT_EQ(file_mode(box.users()), status ? mode : 0600);
        EXPECT_FALSE(unfinished_files_left(box));
    }
}
