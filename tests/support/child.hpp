// Runs library code in a forked child, so that what it does to the whole process (standard
// descriptors, working directory, umask, exit, session, credentials) stays there.
#pragma once

#include <sys/types.h>

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

} // namespace vttest
