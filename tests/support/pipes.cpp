#include "support/pipes.hpp"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <stdexcept>

namespace vttest {

pipe_ends::pipe_ends()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    r.reset(fds[0]);
    w.reset(fds[1]);
}

void write_all(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (errno != EINTR)
            return;
    }
}

void drain(std::vector<std::pair<int, std::string*>> sources)
{
    std::vector<pollfd> fds;
    for (auto& s : sources)
        fds.push_back({s.first, POLLIN, 0});
    for (std::size_t open = fds.size(); open > 0;) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno != EINTR)
                return;
            continue;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0)
                sources[i].second->append(buf, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                fds[i].fd = -1, --open;
        }
    }
}

} // namespace vttest
