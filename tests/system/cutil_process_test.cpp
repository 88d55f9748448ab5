// Process-wide preparations of the service, each in a forked child.
#include "cutil/process.hpp"
#include "platform/unique_fd.hpp"
#include "support/sandbox.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <regex>
#include <set>

namespace fs = std::filesystem;
using namespace vttest;

namespace {

// What a descriptor of this process names, with " cloexec" when it does not survive an exec.
std::string descriptor(int fd)
{
    char target[PATH_MAX] = {};
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0 || ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1) < 0)
        return "closed";
    return std::string(target) + (flags & FD_CLOEXEC ? " cloexec" : "");
}

std::set<int> open_descriptors()
{
    std::set<int> fds;
    for (const auto& e : fs::directory_iterator("/proc/self/fd"))
        fds.insert(std::stoi(e.path().filename()));
    return fds;
}

// Every file below `root` in name order: "path kind mode content", newlines shown as "|".
std::string tree(const std::string& root)
{
    std::set<std::string> lines;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const fs::file_status st = e.symlink_status();
        char mode[8];
        std::snprintf(mode, sizeof mode, " %o", file_mode(e.path()));
        std::string line = e.path().lexically_relative(root).string();
        line += fs::is_symlink(st) ? " link" : fs::is_directory(st) ? " dir" : fs::is_fifo(st) ? std::string(" fifo") + mode
                : fs::is_character_file(st) ? std::string(" device") + mode : mode + std::string(" ") + read_file(e.path());
        lines.insert(std::regex_replace(line, std::regex("\n"), "|"));
    }
    std::string out;
    for (const std::string& line : lines)
        out += line + "; ";
    return out;
}

// What stands at vtstdout or vtstderr before the run.
enum class placed { nothing, longer_file, directory, null_link, file_link, fifo, read_fifo };

struct redirect_case {
    const char* label;
    placed out, err;
    int closed;                   // standard descriptors closed first, bit n for descriptor n
    std::function<bool()> before; // in the child: a change of user, directory or umask
    int status;
    std::string answer;           // descriptors, working directory and umask after: see check()
    std::string tree;             // the sandbox after, "~" for its root
    const char* dir = "out";      // the directory named, relative to the sandbox
};

// Runs redirect_output(dir) from the sandbox's root, then a shell's line on each stream, in a
// child inside a private mount namespace that sees the test's own null device at /dev/null.
void check(const redirect_case& c)
{
    SCOPED_TRACE(c.label);
    sandbox box;
    const std::string dir = box.root() + "/out", null_node = box.root() + "/null", kept = box.root() + "/kept";
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(::mknod(null_node.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
    ::chmod(null_node.c_str(), 0666);
    write_file(kept, "kept\n", 0644);
    std::vector<cutil::unique_fd> readers;
    for (const auto& [what, name] : {std::pair{c.out, "/vtstdout"}, {c.err, "/vtstderr"}}) {
        const std::string path = dir + name;
        if (what == placed::longer_file)
            write_file(path, "an earlier run wrote a longer text\n", 0644);
        if (what == placed::directory)
            ::mkdir(path.c_str(), 0700);
        if (what == placed::null_link || what == placed::file_link)
            ::symlink(what == placed::null_link ? "/dev/null" : kept.c_str(), path.c_str());
        if (what == placed::fifo || what == placed::read_fifo)
            ::mkfifo(path.c_str(), 0644), ::chmod(path.c_str(), 0644);
        if (what == placed::read_fifo)
            readers.emplace_back(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }
    child_run r = box.run_inside([&] {
        ::alarm(20); // a wait in open ends the child, not the test
        if (::mount(null_node.c_str(), "/dev/null", nullptr, MS_BIND, nullptr) != 0 || ::chdir(box.root().c_str()) != 0
            || (c.before && !c.before()))
            return std::string("not prepared");
        for (int fd = 0; fd < 3; ++fd)
            if (c.closed & (1 << fd))
                ::close(fd);
        const std::string zero = descriptor(0);
        const std::set<int> earlier = open_descriptors();
        cutil::redirect_output(c.dir);
        std::string answer = "0 " + (descriptor(0) == zero ? std::string("kept") : descriptor(0)) + "|1 " + descriptor(1)
                             + "|2 " + descriptor(2) + "|new";
        for (int fd : open_descriptors())
            if (fd > 2 && !earlier.count(fd) && descriptor(fd) != "closed")
                answer += " " + std::to_string(fd);
        char cwd[PATH_MAX], mask[8];
        std::snprintf(mask, sizeof mask, " %o", ::umask(0));
        answer += "|" + std::string(::getcwd(cwd, sizeof cwd) ? cwd : "") + mask;
        [[maybe_unused]] int rc = std::system("echo out; echo err >&2");
        return answer;
    });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(c.status == 0 ? std::regex_replace(r.answer, std::regex(box.root()), "~") : "", c.answer);
    for (auto& reader : readers) {
        char buf[64] = {};
        EXPECT_EQ(std::string(buf, std::max<ssize_t>(0, ::read(reader.get(), buf, sizeof buf))), c.out == placed::read_fifo ? "out\n" : "err\n");
    }
    EXPECT_EQ(std::regex_replace(tree(box.root()), std::regex(box.root()), "~"), c.tree);
}

bool as_nobody() { return ::setgid(nobody) == 0 && ::setuid(nobody) == 0; }

class RedirectOutput : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = sandbox_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        if (::geteuid() != 0)
            GTEST_SKIP() << "a device node of the test's own needs root";
    }
};

} // namespace

TEST_F(RedirectOutput, BothStreamsEndInTheirFilesWhateverStoodThereOrWasClosed)
{
    using enum placed;
    const std::string files = "out/vtstderr 600 err|; out/vtstdout 600 out|; ";
    const std::string base = "kept 644 kept|; null device 666; out dir; ", both = base + files;
    const std::string moved = "0 kept|1 ~/out/vtstdout|2 ~/out/vtstderr|new|~/out 77";
    std::vector<redirect_case> cases;
    for (int closed = 0; closed < 8; ++closed)
        cases.push_back({"closed descriptors", nothing, nothing, closed, {}, 0, moved, both});
    const auto umask0 = [] { ::umask(0); return true; };
    cases.insert(cases.end(), {
        {"longer file truncated, owner only", longer_file, longer_file, 0, umask0, 0, moved, both},
        // A directory that cannot be entered leaves the files in the current one.
        {"missing directory", nothing, nothing, 0, {}, 0, "0 kept|1 ~/vtstdout|2 ~/vtstderr|new|~ 77",
         "kept 644 kept|; null device 666; out dir; vtstderr 600 err|; vtstdout 600 out|; ", "missing"},
        {"vtstdout is a directory", directory, nothing, 0, {}, 5, "", base + "out/vtstderr 600 ; out/vtstdout dir; "},
        {"vtstderr is a directory", nothing, directory, 0, {}, 6, "", base + "out/vtstderr dir; out/vtstdout 600 ; "},
        {"unwritable directory", nothing, nothing, 0, [] { return ::chmod("out", 0755) == 0 && as_nobody(); }, 5, "", base},
        // A link or a FIFO is written through, without truncation, change of mode or wait.
        {"vtstdout links to /dev/null", null_link, nothing, 0, {}, 0, "0 kept|1 /dev/null|2 ~/out/vtstderr|new|~/out 77",
         base + "out/vtstderr 600 err|; out/vtstdout link; "},
        {"vtstderr links to /dev/null", nothing, null_link, 0, {}, 0, "0 kept|1 ~/out/vtstdout|2 /dev/null|new|~/out 77",
         base + "out/vtstderr link; out/vtstdout 600 out|; "},
        {"vtstdout links to a file", file_link, nothing, 0, {}, 0, "0 kept|1 ~/kept|2 ~/out/vtstderr|new|~/out 77",
         "kept 644 kept|out|; null device 666; out dir; out/vtstderr 600 err|; out/vtstdout link; "},
        {"vtstderr links to a file", nothing, file_link, 0, {}, 0, "0 kept|1 ~/out/vtstdout|2 ~/kept|new|~/out 77",
         "kept 644 kept|err|; null device 666; out dir; out/vtstderr link; out/vtstdout 600 out|; "},
        {"vtstdout a FIFO nobody reads", fifo, nothing, 0, {}, 5, "", base + "out/vtstderr 600 ; out/vtstdout fifo 644; "},
        {"vtstderr a FIFO nobody reads", nothing, fifo, 0, {}, 6, "", base + "out/vtstderr fifo 644; out/vtstdout 600 ; "},
        {"vtstdout a FIFO read", read_fifo, nothing, 0, {}, 0, "0 kept|1 ~/out/vtstdout|2 ~/out/vtstderr|new|~/out 77",
         base + "out/vtstderr 600 err|; out/vtstdout fifo 644; "},
        {"vtstderr a FIFO read", nothing, read_fifo, 0, {}, 0, "0 kept|1 ~/out/vtstdout|2 ~/out/vtstderr|new|~/out 77",
         base + "out/vtstderr fifo 644; out/vtstdout 600 out|; "},
    });
    for (const redirect_case& c : cases)
        check(c);
}

TEST(InitDaemon, ParentExitsZeroAndTheChildLeadsANewSession)
{
    // Adopt the orphaned daemon so that it is reaped here, not left to the host's init.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    auto r = run_in_child([] {
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
    auto refused = run_in_child([] {
        rlimit none{0, 0};
        if (::geteuid() == 0 && (::setrlimit(RLIMIT_NICE, &none) != 0 || !as_nobody()))
            return std::string("cannot drop privileges");
        return cutil::raise_priority();
    });
    EXPECT_EQ(refused.answer + "|" + refused.err, "Failed to raise priority|raise_priority: Permission denied\n");
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may lower its nice value";
    auto raised = run_in_child([] {
        const std::string answer = cutil::raise_priority();
        return answer + " " + std::to_string(::getpriority(PRIO_PROCESS, 0));
    });
    EXPECT_EQ(raised.answer + "|" + raised.err, "SUCCESS -20|");
}
