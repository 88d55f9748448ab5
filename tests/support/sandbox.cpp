#include "support/sandbox.hpp"

#include "support/pipes.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace vttest {

namespace fs = std::filesystem;

namespace {

// The directory the sandbox replaces: two levels above the etc directory.
std::string mount_point() { return fs::path(VT_ETC_DIR).parent_path().parent_path().string(); }

std::string etc_below_mount_point() { return fs::path(VT_ETC_DIR).lexically_relative(mount_point()).string(); }

bool write_proc(const char* path, const std::string& text)
{
    return static_cast<bool>(std::ofstream(path) << text << std::flush);
}

std::string failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Fork: in the child, the namespace, the standard descriptors, the setup and the binary.
pid_t spawn(const std::string& root, int in_fd, int out_fd, int err_fd, const environment& env, const char* argv0,
            const child_setup& setup)
{
    pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    if (std::string why = enter_namespace(root); !why.empty()) {
        write_all(2, "sandbox: " + why + "\n");
        std::_Exit(126);
    }
    ::dup2(in_fd, 0), ::dup2(out_fd, 1), ::dup2(err_fd, 2);
    if (setup)
        setup();
    for (const auto& [name, value] : env)
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    char* argv[] = {const_cast<char*>(argv0), nullptr};
    ::execv(VTPASSWD_BINARY, argv);
    std::_Exit(127);
}

} // namespace

std::string enter_namespace(const std::string& root)
{
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    if (uid != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return failed("unshare(user, mount)");
        write_proc("/proc/self/setgroups", "deny");
        if (!write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return "cannot map the user into its namespace";
    } else if (::unshare(CLONE_NEWNS) != 0) {
        return failed("unshare(mount)");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failed("mount private");
    if (::mount(root.c_str(), mount_point().c_str(), nullptr, MS_BIND, nullptr) != 0)
        return failed("bind mount");
    return {};
}

std::string sandbox_unavailable()
{
    static const std::string why = [] {
        if (!fs::path(VT_ETC_DIR).is_absolute() || mount_point().size() <= 1 || !fs::is_directory(mount_point()))
            return std::string("the etc directory " VT_ETC_DIR " has no replaceable parent on this host");
        sandbox probe;
        return probe.run_inside([] { return std::string("inside"); }).answer == "inside"
                   ? std::string()
                   : std::string("no private mount namespace here (needs root or user namespaces)");
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
    for (const auto& part : fs::path(etc_below_mount_point()))
        ::mkdir((p /= part).c_str(), 0700);
}

run_result sandbox::run(const std::string& input, const environment& env, const char* argv0,
                        const child_setup& setup) const
{
    pipe_ends in;
    captured out, err;
    pid_t pid = spawn(root_, in.r.get(), out.fd.get(), err.fd.get(), env, argv0, setup);
    in.r.reset();
    write_all(in.w.get(), input); // small inputs fit the pipe
    in.w.reset();
    run_result r;
    r.status = wait_status(pid);
    r.out = out.text(), r.err = err.text();
    return r;
}

child_run sandbox::run_inside(const std::function<std::string()>& fn) const
{
    return run_in_child([&] {
        std::string why = enter_namespace(root_);
        return why.empty() ? fn() : "sandbox: " + why;
    });
}

pid_t sandbox::start(const std::string& input, const environment& env, const child_setup& setup) const
{
    pipe_ends in;
    cutil::unique_fd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    pid_t pid = spawn(root_, in.r.get(), null.get(), null.get(), env, "vtpasswd", setup);
    write_all(in.w.get(), input);
    return pid;
}

std::string read_file(const std::string& path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& content, mode_t mode)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!(f << content << std::flush))
        throw std::runtime_error("write " + path);
    ::chmod(path.c_str(), mode);
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

std::string tree(const std::string& dir, const std::function<std::string(const std::string&)>& content)
{
    std::set<std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const fs::file_status st = e.symlink_status();
        char mode[8];
        std::snprintf(mode, sizeof mode, "%o", file_mode(e.path()));
        const std::string text = fs::is_regular_file(st) ? content(read_file(e.path())) : "";
        entries.insert(e.path().lexically_relative(dir).string() + " "
                       + (fs::is_symlink(st) ? "link" : fs::is_directory(st) ? "dir" : fs::is_fifo(st) ? std::string("fifo ") + mode
                          : fs::is_character_file(st) ? std::string("device ") + mode : mode + (text.empty() ? "" : " " + text)));
    }
    std::string out;
    for (const std::string& entry : entries)
        out += (out.empty() ? "" : "; ") + entry;
    return out;
}

int wait_status(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace vttest
