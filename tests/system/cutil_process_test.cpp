// Process-wide preparations of the service, each in a forked child.
#include "cutil/process.hpp"
#include "support/child.hpp"
#include "support/sandbox.hpp"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <functional>

namespace fs = std::filesystem;

namespace {

struct temp_dir {
    char name[32] = "/tmp/vtprocess.XXXXXX";
    std::string path = ::mkdtemp(name);
    ~temp_dir() { std::error_code ec; fs::remove_all(path, ec); }
};

bool as_nobody()
{
    constexpr uid_t nobody = 65534;
    return ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
}

// In a child, after prepare: redirect_output(dir), a line on each stream, and the answer
// "<working directory> <umask>".
vttest::child_run redirect(const std::string& dir, const std::function<bool()>& prepare = [] { return true; })
{
    return vttest::run_in_child([&] {
        if (!prepare())
            return std::string("not prepared");
        cutil::redirect_output(dir);
        std::printf("to out %%\n");
        std::fprintf(stderr, "to err\n");
        char cwd[PATH_MAX];
        return std::string(::getcwd(cwd, sizeof cwd) ? cwd : "") + " " + std::to_string(::umask(0));
    });
}

} // namespace

TEST(RedirectOutput, BothStreamsGoToFreshOwnerOnlyFilesInTheDirectoryOrTheWorkingOne)
{
    temp_dir given, working, no_out, no_err;
    vttest::write_file(given.path + "/vtstdout", "an earlier run wrote a longer text\n", 0644);
    // A service started with a standard stream closed gets that number back for a new file.
    const std::pair<vttest::child_run, std::string> runs[] = {
        {redirect(given.path, [] { ::umask(0); return true; }), given.path},
        {redirect(working.path + "/missing", [&] { return ::chdir(working.path.c_str()) == 0; }), working.path},
        {redirect(no_out.path, [] { return ::close(STDOUT_FILENO) == 0; }), no_out.path},
        {redirect(no_err.path, [] { return ::close(STDERR_FILENO) == 0; }), no_err.path},
    };
    for (const auto& [r, dir] : runs) {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.answer, dir + " " + std::to_string(077));
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(vttest::read_file(dir + "/vtstdout"), "to out %\n");
        EXPECT_EQ(vttest::read_file(dir + "/vtstderr"), "to err\n");
        EXPECT_EQ(vttest::file_mode(dir + "/vtstdout"), 0600u);
        EXPECT_EQ(vttest::file_mode(dir + "/vtstderr"), 0600u);
    }
}

TEST(RedirectOutput, AStreamThatCannotBeReplacedEndsTheProcessWithItsStatus)
{
    temp_dir out_blocked, err_blocked, locked;
    fs::create_directory(out_blocked.path + "/vtstdout");
    fs::create_directory(err_blocked.path + "/vtstderr");
    EXPECT_EQ(redirect(out_blocked.path).status, 5);
    EXPECT_EQ(redirect(err_blocked.path).status, 6);
    if (::geteuid() != 0)
        GTEST_SKIP() << "an unwritable directory needs a drop to another user";
    ::chmod(locked.path.c_str(), 0755);
    EXPECT_EQ(redirect(locked.path, as_nobody).status, 5);
    EXPECT_FALSE(vttest::file_exists(locked.path + "/vtstdout"));
}

TEST(InitDaemon, ParentExitsZeroAndTheChildLeadsANewSession)
{
    // Adopt the orphaned daemon so that it is reaped here, not left to the host's init.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    auto r = vttest::run_in_child([] {
        std::printf("pending before the fork\n");
        int rc = cutil::init_daemon();
        return std::to_string(rc) + " " + std::to_string(::getpid()) + " " + std::to_string(::getsid(0));
    });
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    int rc = -1, pid = -1, sid = -1;
    ASSERT_EQ(std::sscanf(r.answer.c_str(), "%d %d %d", &rc, &pid, &sid), 3) << r.answer;
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(pid, r.pid);
    EXPECT_EQ(sid, pid);
    EXPECT_EQ(r.out, "pending before the fork\n"); // once, not once per process
}

TEST(RaisePriority, AnOrdinaryUserIsRefusedWithThePerrorLineAndRootGetsTheHighest)
{
    auto refused = vttest::run_in_child([] {
        rlimit none{0, 0};
        if (::geteuid() == 0 && (::setrlimit(RLIMIT_NICE, &none) != 0 || !as_nobody()))
            return std::string("cannot drop privileges");
        return cutil::raise_priority();
    });
    EXPECT_EQ(refused.answer, "Failed to raise priority");
    EXPECT_EQ(refused.err, "raise_priority: Permission denied\n");
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may lower its nice value";
    auto raised = vttest::run_in_child([] {
        const std::string answer = cutil::raise_priority();
        return answer + " " + std::to_string(::getpriority(PRIO_PROCESS, 0));
    });
    EXPECT_EQ(raised.answer, "SUCCESS -20");
    EXPECT_EQ(raised.err, "");
}
