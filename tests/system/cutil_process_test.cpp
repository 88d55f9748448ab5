// Process-wide preparations of the service, each in a forked child.
#include "cutil/process.hpp"
#include "platform/unique_fd.hpp"
#include "support/child.hpp"
#include "support/sandbox.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>

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

// What a descriptor of this process names, with " cloexec" when it does not survive an exec.
std::string descriptor(int fd)
{
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0)
        return "closed";
    char target[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (::readlink(link.c_str(), target, sizeof target - 1) < 0)
        return "unreadable";
    return std::string(target) + (flags & FD_CLOEXEC ? " cloexec" : "");
}

std::set<int> open_descriptors()
{
    std::set<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return fds;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] != '.' && std::atoi(e->d_name) != ::dirfd(dir))
            fds.insert(std::atoi(e->d_name));
    }
    ::closedir(dir);
    return fds;
}

// In a child with the standard descriptors of the mask closed (bit n for descriptor n):
// redirect_output(dir), then a shell writes a line on each stream through what it inherits.
// Answers "0 <kept or what it became>|1 <target>|2 <target>|new <descriptors left open>".
vttest::child_run redirect_with_closed(const std::string& dir, int closed)
{
    return vttest::run_in_child([&] {
        for (int fd = 0; fd < 3; ++fd)
            if (closed & (1 << fd))
                ::close(fd);
        const std::string zero = descriptor(0);
        const std::set<int> before = open_descriptors();
        cutil::redirect_output(dir);
        std::string answer = "0 " + (descriptor(0) == zero ? std::string("kept") : descriptor(0));
        answer += "|1 " + descriptor(1) + "|2 " + descriptor(2) + "|new";
        for (int fd : open_descriptors())
            if (fd > 2 && !before.count(fd))
                answer += " " + std::to_string(fd);
        [[maybe_unused]] int rc = std::system("echo out; echo err >&2");
        return answer;
    });
}

} // namespace

TEST(RedirectOutput, EveryCombinationOfClosedStandardDescriptorsEndsWithBothStreamsInPlace)
{
    for (int closed = 0; closed < 8; ++closed) {
        temp_dir dir;
        vttest::child_run r = redirect_with_closed(dir.path, closed);
        EXPECT_EQ(r.status, 0) << "closed mask " << closed;
        EXPECT_EQ(r.answer, "0 kept|1 " + dir.path + "/vtstdout|2 " + dir.path + "/vtstderr|new")
            << "closed mask " << closed;
        EXPECT_EQ(vttest::read_file(dir.path + "/vtstdout"), "out\n") << "closed mask " << closed;
        EXPECT_EQ(vttest::read_file(dir.path + "/vtstderr"), "err\n") << "closed mask " << closed;
    }
}

TEST(RedirectOutput, BothStreamsGoToFreshOwnerOnlyFilesInTheDirectoryOrTheWorkingOne)
{
    temp_dir given, working;
    vttest::write_file(given.path + "/vtstdout", "an earlier run wrote a longer text\n", 0644);
    const std::pair<vttest::child_run, std::string> runs[] = {
        {redirect(given.path, [] { ::umask(0); return true; }), given.path},
        {redirect(working.path + "/missing", [&] { return ::chdir(working.path.c_str()) == 0; }), working.path},
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

// What stands where an output file belongs: a link to "/dev/null" or to a file elsewhere, a FIFO
// nobody reads, or one that a reader holds open.
enum class placed { null_link, file_link, fifo, read_fifo };

struct placement {
    const char* name; // "vtstdout" or "vtstderr"
    placed what;
    int status;
};

// Places the thing, runs redirect_output and a shell's two lines in a child that sees the test's
// own null device at "/dev/null" (a private mount namespace, so the host's is never at stake), and
// checks that the thing kept its kind, mode and content and that the stream reached it.
void check_placement(const placement& p)
{
    SCOPED_TRACE(std::string(p.name) + " placed " + std::to_string(static_cast<int>(p.what)));
    vttest::sandbox box;
    const std::string dir = box.root() + "/out", null_node = box.root() + "/null", kept = box.root() + "/kept";
    const std::string path = dir + "/" + p.name;
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(::mknod(null_node.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
    ASSERT_EQ(::chmod(null_node.c_str(), 0666), 0);
    vttest::write_file(kept, "kept\n", 0644);
    cutil::unique_fd reader;
    switch (p.what) {
    case placed::null_link: ASSERT_EQ(::symlink("/dev/null", path.c_str()), 0); break;
    case placed::file_link: ASSERT_EQ(::symlink(kept.c_str(), path.c_str()), 0); break;
    case placed::fifo:
    case placed::read_fifo:
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        if (p.what == placed::read_fifo)
            reader.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        break;
    }
    const bool to_out = std::string(p.name) == "vtstdout";
    vttest::child_run r = box.run_inside([&] {
        ::alarm(20); // a wait in open ends the child, not the test
        if (::mount(null_node.c_str(), "/dev/null", nullptr, MS_BIND, nullptr) != 0)
            return std::string("cannot bind the null device");
        cutil::redirect_output(dir);
        [[maybe_unused]] int rc = std::system("echo out; echo err >&2");
        return std::string(::fcntl(to_out ? 1 : 2, F_GETFL) & O_NONBLOCK ? "non-blocking" : "");
    });
    EXPECT_EQ(r.status, p.status);
    EXPECT_EQ(r.answer, "");
    EXPECT_EQ(vttest::file_mode(null_node), 0666u);
    EXPECT_EQ(vttest::file_mode(kept), 0644u);
    const std::string line = to_out ? "out\n" : "err\n";
    EXPECT_EQ(vttest::read_file(kept), p.what == placed::file_link ? "kept\n" + line : "kept\n");
    if (p.what == placed::fifo || p.what == placed::read_fifo) {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0644u);
    }
    if (reader) {
        char buf[64] = {};
        EXPECT_EQ(std::string(buf, std::max<ssize_t>(0, ::read(reader.get(), buf, sizeof buf))), line);
    }
    if (p.status == 0) {
        EXPECT_EQ(vttest::read_file(dir + (to_out ? "/vtstderr" : "/vtstdout")), to_out ? "err\n" : "out\n");
    }
}

TEST(RedirectOutput, ALinkOrAFifoIsWrittenThroughWithoutTruncationModeChangeOrWait)
{
    if (std::string why = vttest::sandbox_unavailable(); !why.empty())
        GTEST_SKIP() << why;
    if (::geteuid() != 0)
        GTEST_SKIP() << "a device node of the test's own needs root";
    const placement cases[] = {
        {"vtstdout", placed::null_link, 0}, {"vtstderr", placed::null_link, 0},
        {"vtstdout", placed::file_link, 0}, {"vtstderr", placed::file_link, 0},
        {"vtstdout", placed::fifo, 5},      {"vtstderr", placed::fifo, 6},
        {"vtstdout", placed::read_fifo, 0}, {"vtstderr", placed::read_fifo, 0},
    };
    for (const placement& p : cases)
        check_placement(p);
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
