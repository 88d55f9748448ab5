#include "support/sandbox.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace vttest {

namespace fs = std::filesystem;

namespace {

// The directory a sandbox replaces: two levels above the etc directory.
const fs::path mount_point = fs::path(VT_ETC_DIR).parent_path().parent_path();

// A copy in memory, which nobody can run from a checkout under a home of mode 0700, and which
// leaves nothing behind however the child ends.
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

} // namespace

std::string sandbox_unavailable()
{
    static const std::string why =
        !fs::path(VT_ETC_DIR).is_absolute() || mount_point.string().size() <= 1
                || !fs::is_directory(mount_point)
            ? "the etc directory " VT_ETC_DIR " has no replaceable parent on this host"
        : ::geteuid() != 0 ? "needs root: a user namespace shows the directories above it as no one's"
        : sandbox().run_inside([] { return std::string("inside"); }).answer != "inside"
            ? "no private mount namespace here"
            : "";
    return why;
}

sandbox::sandbox()
{
    char name[] = "/tmp/vtsandbox.XXXXXX";
    root_ = ::mkdtemp(name) ? name : throw std::runtime_error("mkdtemp");
}

sandbox::~sandbox()
{
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string sandbox::etc_dir() const
{
    return root_ + "/" + fs::path(VT_ETC_DIR).lexically_relative(mount_point).string();
}

void sandbox::make_etc() const
{
    fs::path p = root_;
    for (const auto& part : fs::path(VT_ETC_DIR).lexically_relative(mount_point))
        ::mkdir((p /= part).c_str(), 0700);
}

void sandbox::exec(const environment& env, const char* argv0, const child_setup& setup) const
{
    const int binary = reachable_binary();
    if (std::string why = enter_namespace(root_, mount_point); !why.empty()) {
        write_all(2, "sandbox: " + why + "\n");
        std::_Exit(126);
    }
    if (setup)
        setup();
    for (const auto& [name, value] : env)
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    char* argv[] = {const_cast<char*>(argv0), nullptr};
    ::fexecve(binary, argv, environ);
}

child_run sandbox::run(const std::string& input, const environment& env, const char* argv0,
                       const child_setup& setup) const
{
    return run_in_child([&] {
        exec(env, argv0, setup);
        return std::string("no binary");
    }, input);
}

child_run sandbox::run_inside(const std::function<std::string()>& fn) const
{
    return run_in_child([&] {
        const std::string why = enter_namespace(root_, mount_point);
        return why.empty() ? fn() : "sandbox: " + why;
    });
}

pid_t sandbox::start(const std::string& input, const child_setup& setup) const
{
    const captured in(input);
    return start_child([&] {
        const cutil::unique_fd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        ::dup2(in.fd.get(), 0);
        ::dup2(null.get(), 1);
        ::dup2(null.get(), 2);
        exec({}, "vtpasswd", setup);
    });
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

mode_t file_mode(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void become_nobody()
{
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        std::_Exit(125);
}

std::string tree(const std::string& dir, const std::function<std::string(const std::string&)>& content)
{
    std::set<std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const fs::file_status st = e.symlink_status();
        const std::string mode = (std::ostringstream() << std::oct << file_mode(e.path())).str();
        std::string kind = fs::is_symlink(st) ? "link" : fs::is_directory(st) ? "dir"
                         : fs::is_fifo(st) ? "fifo " + mode : fs::is_character_file(st) ? "device " + mode : "";
        if (kind.empty()) {
            const std::string text = content(read_file(e.path()));
            kind = mode + (text.empty() ? "" : " " + text);
        }
        entries.insert(e.path().lexically_relative(dir).string() + " " + kind);
    }
    std::string out;
    for (const std::string& entry : entries)
        out += (out.empty() ? "" : "; ") + entry;
    return out;
}

} // namespace vttest
