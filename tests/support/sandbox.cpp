#include "support/sandbox.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace vttest {

namespace fs = std::filesystem;

namespace {

// The directory the sandbox replaces: two levels above the etc directory.
const fs::path mount_point = fs::path(VT_ETC_DIR).parent_path().parent_path();

// The binary as the user nobody can run it: a copy in memory, since a checkout under a home of mode
// 0700 is out of nobody's reach, and a copy in memory leaves nothing behind however the tests end.
int reachable_binary()
{
    static const cutil::unique_fd copy = [] {
        cutil::unique_fd mem(::memfd_create("vtpasswd", MFD_CLOEXEC));
        const cutil::unique_fd from(::open(VTPASSWD_BINARY, O_RDONLY | O_CLOEXEC));
        if (!mem || !from)
            throw std::runtime_error("a copy of " VTPASSWD_BINARY);
        write_all(mem.get(), read_to_end(from.get()));
        return mem;
    }();
    return copy.get();
}

bool write_proc(const char* path, const std::string& text) { return !!(std::ofstream(path) << text << std::flush); }

std::string failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Forks the binary inside the namespace, writing on out and err; the parent writes its input.
pid_t spawn(const std::string& root, const std::string& input, int out, int err, const environment& env,
            const char* argv0, const child_setup& setup)
{
    pipe_ends in;
    const int binary = reachable_binary();
    if (const pid_t pid = ::fork(); pid != 0) {
        in.r.reset();
        write_all(in.w.get(), input);
        return pid;
    }
    if (std::string why = enter_namespace(root); !why.empty()) {
        write_all(2, "sandbox: " + why + "\n");
        std::_Exit(126);
    }
    ::dup2(in.r.get(), 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (setup)
        setup();
    for (const auto& [name, value] : env)
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    char* argv[] = {const_cast<char*>(argv0), nullptr};
    ::fexecve(binary, argv, environ);
    std::_Exit(127);
}

} // namespace

std::string enter_namespace(const std::string& root)
{
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    // An ordinary user first becomes root of a user namespace of its own.
    if (::unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return failed("unshare");
    if (uid != 0) {
        write_proc("/proc/self/setgroups", "deny"); // absent on old kernels, which need no denial
        if (!write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
            || !write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return "cannot map the user into its namespace";
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount(root.c_str(), mount_point.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return failed("mount");
    return {};
}

std::string sandbox_unavailable()
{
    // The command trusts an etc directory only below directories of root's, which a user namespace
    // shows as no one's.
    static const std::string why =
        !fs::path(VT_ETC_DIR).is_absolute() || mount_point.string().size() <= 1 || !fs::is_directory(mount_point)
            ? "the etc directory " VT_ETC_DIR " has no replaceable parent on this host"
        : ::geteuid() != 0 ? "needs root: in a user namespace the directories above the etc directory are no one's"
        : sandbox().run_inside([] { return std::string("inside"); }).answer != "inside"
            ? "no private mount namespace here (needs root or user namespaces)"
            : "";
    return why;
}

sandbox::sandbox()
{
    char name[] = "/tmp/vtsandbox.XXXXXX";
    root_ = ::mkdtemp(name) ? name : throw std::runtime_error("mkdtemp");
}

sandbox::~sandbox() { std::error_code ignored; fs::remove_all(root_, ignored); }

std::string sandbox::etc_dir() const { return root_ + "/" + fs::path(VT_ETC_DIR).lexically_relative(mount_point).string(); }

void sandbox::make_etc() const
{
    fs::path p = root_;
    for (const auto& part : fs::path(VT_ETC_DIR).lexically_relative(mount_point))
        ::mkdir((p /= part).c_str(), 0700);
}

run_result sandbox::run(const std::string& input, const environment& env, const char* argv0,
                        const child_setup& setup) const
{
    captured out, err;
    const int status = wait_status(spawn(root_, input, out.fd.get(), err.fd.get(), env, argv0, setup));
    return {status, out.text(), err.text()};
}

child_run sandbox::run_inside(const std::function<std::string()>& fn) const
{
    return run_in_child([&] {
        const std::string why = enter_namespace(root_);
        return why.empty() ? fn() : "sandbox: " + why;
    });
}

pid_t sandbox::start(const std::string& input, const environment& env, const child_setup& setup) const
{
    const cutil::unique_fd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    return spawn(root_, input, null.get(), null.get(), env, "vtpasswd", setup);
}

std::string read_file(const std::string& path)
{
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

void write_file(const std::string& path, const std::string& content, mode_t mode)
{
    if (!(std::ofstream(path, std::ios::binary | std::ios::trunc) << content << std::flush))
        throw std::runtime_error("write " + path);
    ::chmod(path.c_str(), mode);
}


mode_t file_mode(const std::string& path) { struct stat st; return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0; }

void become_nobody()
{
    if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(nobody) != 0)
        std::_Exit(125);
}

std::string tree(const std::string& dir, const std::function<std::string(const std::string&)>& content)
{
    std::set<std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const fs::file_status st = e.symlink_status();
        const std::string mode = (std::ostringstream() << std::oct << file_mode(e.path())).str();
        const std::string text = fs::is_regular_file(st) ? content(read_file(e.path())) : "";
        entries.insert(e.path().lexically_relative(dir).string() + " "
                       + (fs::is_symlink(st) ? "link" : fs::is_directory(st) ? "dir" : fs::is_fifo(st) ? "fifo " + mode
                          : fs::is_character_file(st) ? "device " + mode : mode + (text.empty() ? "" : " " + text)));
    }
    std::string out;
    for (const std::string& entry : entries)
        out += (out.empty() ? "" : "; ") + entry;
    return out;
}

} // namespace vttest
