#include "support/sandbox.hpp"

#include "support/pipes.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace vttest {

namespace fs = std::filesystem;

namespace {

// The directory the sandbox replaces: two levels above the etc directory.
std::string mount_point()
{
    return fs::path(VT_ETC_DIR).parent_path().parent_path().string();
}

std::string etc_below_mount_point()
{
    return fs::path(VT_ETC_DIR).lexically_relative(mount_point()).string();
}

bool write_proc(const char* path, const std::string& text)
{
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

} // namespace

// In the child: a private mount namespace (with a user namespace when not root) in which
// the sandbox root is bound over the mount point. Answers an error text, or empty.
std::string enter_namespace(const std::string& root)
{
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    if (uid != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return std::string("unshare(user, mount): ") + std::strerror(errno);
        write_proc("/proc/self/setgroups", "deny");
        if (!write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return "cannot map the user into its namespace";
    } else if (::unshare(CLONE_NEWNS) != 0) {
        return std::string("unshare(mount): ") + std::strerror(errno);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("mount private: ") + std::strerror(errno);
    if (::mount(root.c_str(), mount_point().c_str(), nullptr, MS_BIND, nullptr) != 0)
        return std::string("bind mount: ") + std::strerror(errno);
    return {};
}

namespace {

[[noreturn]] void exec_binary(const environment& env, const char* argv0)
{
    for (const auto& [name, value] : env) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    char* argv[] = {const_cast<char*>(argv0), nullptr};
    ::execv(VTPASSWD_BINARY, argv);
    std::_Exit(127);
}

// Fork: in the child, the namespace, the standard descriptors and the binary.
pid_t spawn(const std::string& root, int in_fd, int out_fd, int err_fd, const environment& env, const char* argv0,
            const child_setup& setup)
{
    pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    std::string why = enter_namespace(root);
    if (!why.empty()) {
        why = "sandbox: " + why + "\n";
        ssize_t ignored = ::write(2, why.data(), why.size());
        (void)ignored;
        std::_Exit(126);
    }
    ::dup2(in_fd, 0);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    if (setup)
        setup();
    exec_binary(env, argv0);
}

} // namespace

std::string sandbox_unavailable()
{
    static const std::string why = [] {
        if (!fs::path(VT_ETC_DIR).is_absolute() || mount_point().size() <= 1 || !fs::is_directory(mount_point()))
            return std::string("the etc directory " VT_ETC_DIR " has no replaceable parent on this host");
        char tmpl[] = "/tmp/vtprobe.XXXXXX";
        if (!::mkdtemp(tmpl))
            return std::string("mkdtemp failed");
        pid_t pid = ::fork();
        if (pid == 0)
            std::_Exit(enter_namespace(tmpl).empty() ? 0 : 1);
        int status = wait_status(pid);
        ::rmdir(tmpl);
        return status == 0 ? std::string() : std::string("no private mount namespace here (needs root or user namespaces)");
    }();
    return why;
}

sandbox::sandbox()
{
    char tmpl[] = "/tmp/vtsandbox.XXXXXX";
    if (!::mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp");
    root_ = tmpl;
}

sandbox::~sandbox()
{
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::string sandbox::etc_dir() const { return root_ + "/" + etc_below_mount_point(); }

void sandbox::make_etc() const
{
    fs::path p = root_;
    for (const auto& part : fs::path(etc_below_mount_point())) {
        p /= part;
        ::mkdir(p.c_str(), 0700);
    }
}

run_result sandbox::run(const std::string& input, const environment& env, const char* argv0,
                        const child_setup& setup) const
{
    pipe_ends in, out, err;
    pid_t pid = spawn(root_, in.r, out.w, err.w, env, argv0, setup);
    in.close_r();
    out.close_w();
    err.close_w();
    // Small inputs fit the pipe; the command reads one line and never blocks on output here.
    write_all(in.w, input);
    in.close_w();
    run_result r;
    drain({{out.r, &r.out}, {err.r, &r.err}});
    r.status = wait_status(pid);
    return r;
}

child_run sandbox::run_inside(const std::function<std::string()>& fn) const
{
    const std::string root = root_;
    return run_in_child([&]() -> std::string {
        std::string why = enter_namespace(root);
        if (!why.empty())
            return "sandbox: " + why;
        return fn();
    });
}

pid_t sandbox::start(const std::string& input, const environment& env, const child_setup& setup) const
{
    pipe_ends in;
    int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t pid = spawn(root_, in.r, null_fd, null_fd, env, "vtpasswd", setup);
    ::close(null_fd);
    write_all(in.w, input);
    return pid;
}

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& content, mode_t mode)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        throw std::runtime_error("open " + path);
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::fchmod(fd, mode);
    ::close(fd);
}

bool file_exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void become_nobody()
{
    if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(nobody) != 0)
        std::_Exit(125);
}

mode_t file_mode(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

int wait_status(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace vttest
