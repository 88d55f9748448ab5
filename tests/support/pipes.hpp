// Pipes between a test and the child it forks.
#pragma once

#include "platform/unique_fd.hpp"

#include <string>
#include <utility>
#include <vector>

namespace vttest {

// Both ends of one pipe; neither survives an exec.
struct pipe_ends {
    cutil::unique_fd r, w;
    pipe_ends();
};

void write_all(int fd, const std::string& text);
// Reads every pipe to its end without letting one of them fill up.
void drain(std::vector<std::pair<int, std::string*>> sources);

} // namespace vttest
