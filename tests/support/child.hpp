// Runs library code in a forked child, so that what it does to the whole process (standard
// descriptors, working directory, umask, exit, session, credentials) stays there; and what passes
// between a test and the children it forks.
#pragma once

#include "platform/unique_fd.hpp"

#include <functional>
#include <string>

namespace vttest {

struct child_run {
    int status = -1;              // the exit status, or 128 + signal
    std::string out, err, answer; // its standard output and error; what the callable returned
};

// The callable runs with standard output and error captured; its answer comes back on a pipe of
// its own, and the child then flushes its streams and ends with status 0.
child_run run_in_child(const std::function<std::string()>& fn);
// Waits for a child: its exit status, or 128 + the signal that ended it.
int wait_status(pid_t pid);

// Both ends of one pipe; neither survives an exec.
struct pipe_ends {
    cutil::unique_fd r, w;
    pipe_ends();
};

// A file in memory that a child writes and the parent reads once the child has ended.
struct captured {
    cutil::unique_fd fd;
    captured();
    std::string text() const;
};

void write_all(int fd, const std::string& text);
std::string read_to_end(int fd); // until every writer has closed it
std::string output_of(const std::string& command); // what a shell command printed on its standard output

} // namespace vttest
