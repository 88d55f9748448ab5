// Runs code in a forked child, so that what it does to the whole process (standard descriptors,
// working directory, umask, exit, session, credentials) stays there.
#pragma once

#include "platform/unique_fd.hpp"

#include <sys/types.h>

#include <functional>
#include <string>

namespace vttest {

struct child_run {
    int status = -1;              // the exit status, or 128 + signal
    std::string out, err, answer; // its standard output and error; what the callable returned
};

// Forks a child that runs `fn` and ends with status 127 should `fn` return.
pid_t start_child(const std::function<void()>& fn);
// Waits for a child: its exit status, or 128 + the signal that ended it.
int wait_status(pid_t pid);
// `fn` in a child reading `input`, its standard output and error captured; its answer comes
// back on a pipe of its own, and the child then ends with status 0 (unless `fn` execs).
child_run run_in_child(const std::function<std::string()>& fn, const std::string& input = "");

// A file in memory that a child writes and the parent reads once the child has ended.
struct captured {
    cutil::unique_fd fd;
    captured();
    std::string text() const;
};

void write_all(int fd, const std::string& text);
std::string read_to_end(int fd);                   // until every writer has closed it
std::string output_of(const std::string& command); // a shell command's standard output

} // namespace vttest
