// Runs the real vtpasswd binary, or library code, in a private mount namespace where a temporary
// directory stands in for the etc directory's grandparent: the host's files stay untouched.
#pragma once

#include "support/child.hpp"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

struct sock_filter;

namespace vttest {

using environment = std::map<std::string, std::optional<std::string>>; // nullopt unsets
using child_setup = std::function<void()>; // in the child, just before the binary

// Enters, in the calling process, a mount namespace in which `root` stands at `at`; why not.
std::string enter_namespace(const std::string& root, const std::string& at);
std::string sandbox_unavailable(); // why no sandbox can be made here, or empty
// A seccomp filter on the calling process for good (status 125 where none can be set).
void install_filter(const std::vector<sock_filter>& code);

class sandbox {
public:
    sandbox();
    ~sandbox();
    sandbox(const sandbox&) = delete;
    sandbox& operator=(const sandbox&) = delete;

    // Host paths of what the binary sees as its etc directory and files.
    std::string etc_dir() const;
    std::string users() const { return etc_dir() + "/vanto_users.dat"; }
    std::string backup() const { return etc_dir() + "/old_vanto_users.dat"; }
    const std::string& root() const { return root_; }
    void make_etc() const; // mode 0700, with its parents

    child_run run(const std::string& input, const environment& env = {},
                  const char* argv0 = "vtpasswd", const child_setup& setup = {}) const;
    // Library code in a child inside the namespace; "sandbox: ..." says why none was made.
    child_run run_inside(const std::function<std::string()>& fn) const;
    // The binary started on its input, its output discarded.
    pid_t start(const std::string& input, const child_setup& setup = {}) const;

private:
    void exec(const environment& env, const char* argv0, const child_setup& setup) const;
    std::string root_;
};

// A test with a sandbox of its own, skipped where none can be made.
class sandbox_test : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = sandbox_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        box.make_etc();
    }
    sandbox box;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content, mode_t mode = 0600);
mode_t file_mode(const std::string& path);
void become_nobody(); // a child_setup: the user nobody, without supplementary groups
// Each entry below dir in name order, parted by "; ": "path dir", "path link", "path fifo MODE",
// "path device MODE", or "path MODE" and what `content` makes of a regular file's bytes.
std::string tree(const std::string& dir, const std::function<std::string(const std::string&)>& content);

} // namespace vttest
