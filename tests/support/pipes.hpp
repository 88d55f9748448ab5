// What passes between a test and the child it forks.
#pragma once

#include "platform/unique_fd.hpp"

#include <string>

namespace vttest {

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
// What comes through fd until every writer has closed it.
std::string read_to_end(int fd);
// What a shell command printed on its standard output.
std::string output_of(const std::string& command);

} // namespace vttest
