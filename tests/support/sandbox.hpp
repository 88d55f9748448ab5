// Runs the real vtpasswd binary against a test-owned directory: the child enters a private
// mount namespace in which a temporary directory stands in for the parent of the compiled-in
// etc directory's parent ("/usr/local" for "/usr/local/etc/tessaroul"), so the installed
// build is tested with its own paths and the host's directories are never touched.
#pragma once

#include "support/child.hpp"

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

namespace vttest {

struct run_result {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

using environment = std::map<std::string, std::optional<std::string>>; // nullopt unsets
// Runs in the child just before the binary replaces it, after the namespace and the standard
// descriptors are in place: a change of user, a limit, another standard input.
using child_setup = std::function<void()>;

// Enters, in the calling process, the private mount namespace in which root stands in for
// the etc directory's grandparent. Answers an error text, or empty.
std::string enter_namespace(const std::string& root);

// Why the sandbox cannot be made here, or empty when it can.
std::string sandbox_unavailable();

class sandbox {
public:
    sandbox();
    ~sandbox();
    sandbox(const sandbox&) = delete;
    sandbox& operator=(const sandbox&) = delete;

    // The host path of what the binary sees as its etc directory.
    std::string etc_dir() const;
    std::string users() const { return etc_dir() + "/vanto_users.dat"; }
    std::string backup() const { return etc_dir() + "/old_vanto_users.dat"; }
    // The root that stands in for the mount point, as seen from the host.
    const std::string& root() const { return root_; }
    // Creates the etc directory (mode 0700) and its parents.
    void make_etc() const;

    // Runs the binary to the end with the given standard input.
    run_result run(const std::string& input, const environment& env = {}, const char* argv0 = "vtpasswd",
                   const child_setup& setup = {}) const;
    // Runs library code in a forked child that sees this sandbox at the mount point; the
    // answer "sandbox: ..." says why the namespace could not be made.
    child_run run_inside(const std::function<std::string()>& fn) const;
    // Starts the binary; its standard input is already written and closed, output discarded.
    pid_t start(const std::string& input, const environment& env = {}, const child_setup& setup = {}) const;

private:
    std::string root_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content, mode_t mode = 0600);
bool file_exists(const std::string& path);
// The user nobody: its ids, and a setup that becomes it (without supplementary groups).
inline constexpr uid_t nobody = 65534;
inline constexpr gid_t nogroup = 65534;
void become_nobody();
mode_t file_mode(const std::string& path);
// Each entry below `dir` in name order, "path kind" ("dir", "link", "fifo MODE", "device MODE")
// or, for a regular file, "path MODE" and what `content` makes of its bytes; parted by "; ".
std::string tree(const std::string& dir, const std::function<std::string(const std::string&)>& content);
// Waits for a child and answers its exit status, or 128 + the signal that ended it.
int wait_status(pid_t pid);

} // namespace vttest
