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

namespace fs = std::filesystem;

namespace {

struct temp_dir {
    std::string path;
    temp_dir()
    {
        char tmpl[] = "/tmp/vtprocess.XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~temp_dir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

std::string cwd()
{
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? buf : "";
}

constexpr uid_t nobody = 65534;

} // namespace

TEST(RedirectOutput, BothStreamsGoToFreshOwnerOnlyFiles)
{
    temp_dir dir;
    vttest::write_file(dir.path + "/vtstdout", "an earlier run wrote a longer text\n", 0644);
    auto r = vttest::run_in_child([&] {
        ::umask(0);
        cutil::redirect_output(dir.path);
        std::printf("to out %%\n");
        std::fprintf(stderr, "to err\n");
        mode_t mask = ::umask(0);
        return cwd() + " " + std::to_string(mask);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.answer, dir.path + " " + std::to_string(077));
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(vttest::read_file(dir.path + "/vtstdout"), "to out %\n");
    EXPECT_EQ(vttest::read_file(dir.path + "/vtstderr"), "to err\n");
    EXPECT_EQ(vttest::file_mode(dir.path + "/vtstdout"), 0600u);
    EXPECT_EQ(vttest::file_mode(dir.path + "/vtstderr"), 0600u);
}

TEST(RedirectOutput, MissingDirectoryKeepsTheWorkingDirectory)
{
    temp_dir dir;
    auto r = vttest::run_in_child([&] {
        if (::chdir(dir.path.c_str()) != 0)
            return std::string("chdir");
        cutil::redirect_output(dir.path + "/missing");
        return cwd();
    });
    EXPECT_EQ(r.answer, dir.path);
    EXPECT_TRUE(vttest::file_exists(dir.path + "/vtstdout"));
    EXPECT_TRUE(vttest::file_exists(dir.path + "/vtstderr"));
}

TEST(RedirectOutput, AStreamThatCannotBeReplacedEndsTheProcessWithItsStatus)
{
    temp_dir out_blocked, err_blocked;
    fs::create_directory(out_blocked.path + "/vtstdout");
    fs::create_directory(err_blocked.path + "/vtstderr");
    auto redirect = [](const std::string& d) {
        return vttest::run_in_child([&] {
            cutil::redirect_output(d);
            return std::string("returned");
        });
    };
    auto out = redirect(out_blocked.path);
    EXPECT_EQ(out.status, 5);
    EXPECT_EQ(out.answer, "");
    auto err = redirect(err_blocked.path);
    EXPECT_EQ(err.status, 6);
    EXPECT_EQ(err.answer, "");

    if (::geteuid() != 0)
        return; // the unwritable-directory case below needs to drop to another user
    temp_dir locked;
    ::chmod(locked.path.c_str(), 0755);
    auto denied = vttest::run_in_child([&] {
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            return std::string("setuid");
        cutil::redirect_output(locked.path);
        return std::string("returned");
    });
    EXPECT_EQ(denied.status, 5);
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
    EXPECT_EQ(r.status, 0);
    int rc = -1, pid = -1, sid = -1;
    ASSERT_EQ(std::sscanf(r.answer.c_str(), "%d %d %d", &rc, &pid, &sid), 3) << r.answer;
    EXPECT_EQ(rc, 0);
    EXPECT_NE(pid, r.pid);
    EXPECT_EQ(sid, pid);
    // Written once, not once per process.
    EXPECT_EQ(r.out, "pending before the fork\n");
    ::waitpid(pid, nullptr, 0);
}

TEST(RaisePriority, AnOrdinaryUserIsRefusedWithThePerrorLine)
{
    auto r = vttest::run_in_child([] {
        if (::geteuid() == 0) {
            rlimit none{0, 0};
            if (::setrlimit(RLIMIT_NICE, &none) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
                return std::string("cannot drop privileges");
        }
        return cutil::raise_priority();
    });
    EXPECT_EQ(r.answer, "Failed to raise priority");
    EXPECT_EQ(r.err, "raise_priority: Permission denied\n");
}

TEST(RaisePriority, ThePrivilegedProcessGetsTheHighestPriority)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may lower its nice value";
    auto r = vttest::run_in_child([] {
        std::string answer = cutil::raise_priority();
        errno = 0;
        return answer + " " + std::to_string(::getpriority(PRIO_PROCESS, 0));
    });
    EXPECT_EQ(r.answer, "SUCCESS -20");
    EXPECT_EQ(r.err, "");
}
