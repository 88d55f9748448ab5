// Pipes between a test and the child it forks.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vttest {

// Both ends of one pipe, closed on destruction; neither end survives an exec.
struct pipe_ends {
    int r = -1, w = -1;
    pipe_ends();
    ~pipe_ends();
    pipe_ends(const pipe_ends&) = delete;
    pipe_ends& operator=(const pipe_ends&) = delete;
    void close_r();
    void close_w();
};

void write_all(int fd, const std::string& text);
// Reads every pipe to its end without letting one of them fill up.
void drain(std::vector<std::pair<int, std::string*>> sources);

} // namespace vttest
