#include "support/pipes.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vttest {

pipe_ends::pipe_ends()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    r = fds[0];
    w = fds[1];
}

pipe_ends::~pipe_ends()
{
    close_r();
    close_w();
}

void pipe_ends::close_r()
{
    if (r >= 0)
        ::close(r), r = -1;
}

void pipe_ends::close_w()
{
    if (w >= 0)
        ::close(w), w = -1;
}

void write_all(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void drain(std::vector<std::pair<int, std::string*>> sources)
{
    std::vector<pollfd> fds;
    for (auto& s : sources)
        fds.push_back({s.first, POLLIN, 0});
    std::size_t open_count = fds.size();
    while (open_count > 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fds[i].fd = -1;
                --open_count;
                continue;
            }
            sources[i].second->append(buf, static_cast<std::size_t>(n));
        }
    }
}

} // namespace vttest
