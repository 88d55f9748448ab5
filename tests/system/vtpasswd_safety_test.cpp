// Overlapping runs and runs killed at any instant lose nothing.
#include "support/records.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <set>

using namespace vttest;

namespace {

class Safety : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = sandbox_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        box.make_etc();
    }
    sandbox box;
};

std::string users_file_of(int count)
{
    std::string content;
    content.reserve(static_cast<std::size_t>(count) * 157);
    for (int i = 0; i < count; ++i)
        content += filler_record("user" + std::to_string(i), i);
    return content;
}

std::set<std::string> names_in(const std::string& content)
{
    std::set<std::string> names;
    for (const std::string& line : lines_of(content))
        names.insert(line.substr(0, line.find(' ')));
    return names;
}

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
    ASSERT_EQ(after.size() % 157, 0u);
    std::set<std::string> names = names_in(after);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(existing + runs));
    for (int i = 0; i < runs; ++i)
        EXPECT_TRUE(names.count("added" + std::to_string(i))) << i;
    EXPECT_TRUE(after.substr(0, existing * 157) == users_file_of(existing)) << "existing records changed";
    EXPECT_FALSE(file_exists(box.users() + ".new"));
}

// The backup copy's and the new content's files while a run writes them.
bool unfinished_files_left(const sandbox& box)
{
    return file_exists(box.users() + ".new") || file_exists(box.backup() + ".new");
}

// nobody owns the etc directory but not the user file: the kernel refuses it a second link to
// the file (protected hard links) where a rename would be allowed, so the backup is a copy.
void hand_etc_to_nobody(const sandbox& box)
{
    box.make_etc();
    ::chmod(box.root().c_str(), 0711);
    ::chmod((box.root() + "/etc").c_str(), 0711);
    ::chown(box.etc_dir().c_str(), nobody, nogroup);
}

void give_users_to_root(const sandbox& box, mode_t mode)
{
    ::chown(box.users().c_str(), 0, 0);
    ::chmod(box.users().c_str(), mode);
}

std::string why_no_refused_link()
{
    if (::geteuid() != 0)
        return "running as another user needs root";
    if (read_file("/proc/sys/fs/protected_hardlinks") != "1\n")
        return "this kernel links any file, so no link is refused here";
    return {};
}

// Kills runs at instants spread across one whole run: the user file is always whole, and the
// next run starts from it. prepare runs before every run.
void check_killed_runs(const sandbox& box, const child_setup& as, const std::function<void()>& prepare)
{
    const int existing = 100000;
    const std::string original = users_file_of(existing);
    write_file(box.users(), original);
    prepare();

    // How long one whole run takes here, to spread the kills across it.
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(wait_status(box.start("user5 pw x\n", {}, as)), 1);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    ASSERT_TRUE(read_file(box.users()) == original);

    std::mt19937 rng(12345);
    std::uniform_int_distribution<long> delay(0, std::max<long>(1, whole.count()));
    int interrupted = 0;
    for (int round = 0; round < 12; ++round) {
        prepare();
        const std::string before = read_file(box.users());
        const std::string name = "killed" + std::to_string(round);
        pid_t pid = box.start(name + " pw\n", {}, as);
        timespec ts{0, delay(rng) * 1000};
        ::nanosleep(&ts, nullptr);
        ::kill(pid, SIGKILL);
        wait_status(pid);

        // The user file is always whole: the previous content, or the finished new one.
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
    // The next run starts from the whole file and completes.
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

TEST_F(Safety, RunsKilledAtAnyInstantLeaveAWholeFileThatTheNextRunStartsFrom)
{
    {
        SCOPED_TRACE("backup linked");
        check_killed_runs(box, {}, [] {});
    }
    if (std::string why = why_no_refused_link(); !why.empty())
        GTEST_SKIP() << "backup copied: " << why;
    SCOPED_TRACE("backup copied");
    sandbox copied;
    hand_etc_to_nobody(copied);
    check_killed_runs(copied, become_nobody, [&] { give_users_to_root(copied, 0644); });
}

TEST_F(Safety, RefusedBackupLinkFallsBackToACopyWhereARenameWouldHaveWorked)
{
    if (std::string why = why_no_refused_link(); !why.empty())
        GTEST_SKIP() << why;
    hand_etc_to_nobody(box);
    const std::string before = users_file_of(3);
    // A file nobody may read is refused as the renamed backup would have been: the open fails.
    const std::pair<mode_t, int> cases[] = {{0644, 0}, {0600, 1}};
    for (const auto& [mode, status] : cases) {
        write_file(box.users(), before);
        give_users_to_root(box, mode);
        write_file(box.backup(), "an earlier backup");
        ::chown(box.backup().c_str(), 0, 0);
        run_result r = box.run("added pw\n", {}, "vtpasswd", become_nobody);
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_FALSE(unfinished_files_left(box));
        if (status != 0) {
            EXPECT_EQ(r.err, "Could not open password file " VT_ETC_DIR "/vanto_users.dat. Please check that "
                             "the directory exists with the appropriate permissions set.\n");
            EXPECT_EQ(read_file(box.users()), before);
            EXPECT_EQ(file_mode(box.users()), mode);
            continue;
        }
        EXPECT_EQ(r.err, "Password changed for user added.\n");
        EXPECT_EQ(read_file(box.backup()), before);
        const std::string after = read_file(box.users());
        ASSERT_EQ(after.size(), before.size() + 157);
        EXPECT_EQ(after.substr(0, before.size()), before);
        EXPECT_EQ(after.substr(before.size(), 6), "added ");
    }
}

TEST_F(Safety, FailedRunLeavesTheUserFileAndRemovesItsUnfinishedCopy)
{
    const std::string before = users_file_of(3) + "short";
    write_file(box.users(), before);
    EXPECT_EQ(box.run("user1 x\n").status, 1);
    EXPECT_EQ(read_file(box.users()), before);
    EXPECT_FALSE(file_exists(box.users() + ".new"));
    // A stale unfinished copy from a killed run is not read back.
    write_file(box.users(), users_file_of(2));
    write_file(box.users() + ".new", "garbage");
    write_file(box.backup() + ".new", "garbage");
    EXPECT_EQ(box.run("z p\n").status, 0);
    EXPECT_EQ(lines_of(read_file(box.users())).size(), 3u);
    EXPECT_FALSE(unfinished_files_left(box));
}

} // namespace
