// Code run in a forked child, so that what it does to the whole process stays there.
#pragma once

#include "platform/unique_fd.hpp"

#include <sys/types.h>

#include <functional>
#include <string>

namespace vttest {

struct child_run {
    int status = -1;              // the exit status, or 128 + signal
    std::string out, err, answer; // its output and error; what `fn` returned
};

pid_t start_child(const std::function<void()>& fn); // status 127 should `fn` return
int wait_status(pid_t pid); // as child_run::status
// `fn` in a child reading `input`, its output captured, its answer sent back.
child_run run_in_child(const std::function<std::string()>& fn, const std::string& input = "");
child_run run_shell(const std::string& command, const std::string& input = ""); // with sh -c

// A file in memory: the child writes it, the parent reads it after.
struct captured {
    cutil::unique_fd fd;
    explicit captured(const std::string& text = "");
    std::string text() const;
};

void write_all(int fd, const std::string& text);
std::string read_to_end(int fd); // until every writer has closed it

} // namespace vttest
