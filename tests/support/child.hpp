// Runs a piece of library code in a forked child, so that what it does to the whole process
// (standard descriptors, working directory, umask, exit, session, credentials) stays there.
#pragma once

#include <functional>
#include <string>

namespace vttest {

struct child_run {
    int pid = -1;       // the child's process id
    int status = -1;    // exit status, or 128 + signal
    std::string out;    // what the child wrote on its standard output
    std::string err;    // ... and on its standard error
    std::string answer; // what the callable returned, when it returned
};

// The callable runs in the child with standard output and error captured; its answer travels
// back on a pipe of its own, and the child then ends with status 0 after flushing its streams.
child_run run_in_child(const std::function<std::string()>& fn);

} // namespace vttest
