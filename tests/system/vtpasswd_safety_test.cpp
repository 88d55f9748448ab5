// Overlapping runs and runs killed at any instant lose nothing.
#include "support/records.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
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

TEST_F(Safety, RunsKilledAtAnyInstantLeaveAWholeFileThatTheNextRunStartsFrom)
{
    const int existing = 100000;
    const std::string original = users_file_of(existing);
    write_file(box.users(), original);

    // How long one whole run takes here, to spread the kills across it.
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(wait_status(box.start("user5 pw x\n")), 1);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    ASSERT_TRUE(read_file(box.users()) == original);

    std::mt19937 rng(12345);
    std::uniform_int_distribution<long> delay(0, std::max<long>(1, whole.count()));
    int interrupted = 0;
    for (int round = 0; round < 12; ++round) {
        const std::string before = read_file(box.users());
        const std::string name = "killed" + std::to_string(round);
        pid_t pid = box.start(name + " pw\n");
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
    const std::string last = read_file(box.users());
    run_result r = box.run("final pw\n");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string after = read_file(box.users());
    EXPECT_EQ(after.size(), last.size() + 157);
    EXPECT_TRUE(after.substr(0, last.size()) == last) << "the next run did not start from the whole file";
    EXPECT_TRUE(read_file(box.backup()) == last) << "the backup is not the previous content";
    EXPECT_FALSE(file_exists(box.users() + ".new"));
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
    EXPECT_EQ(box.run("z p\n").status, 0);
    EXPECT_EQ(lines_of(read_file(box.users())).size(), 3u);
    EXPECT_FALSE(file_exists(box.users() + ".new"));
}

} // namespace
