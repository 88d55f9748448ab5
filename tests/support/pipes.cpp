#include "support/pipes.hpp"

#include <fcntl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace vttest {

pipe_ends::pipe_ends()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    r.reset(fds[0]), w.reset(fds[1]);
}

captured::captured() : fd(::memfd_create("vttest", MFD_CLOEXEC))
{
    if (!fd)
        throw std::runtime_error("memfd_create");
}

std::string captured::text() const { return ::lseek(fd.get(), 0, SEEK_SET) == 0 ? read_to_end(fd.get()) : ""; }

void write_all(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();)
        if (const ssize_t n = ::write(fd, text.data() + done, text.size() - done); n > 0)
            done += static_cast<std::size_t>(n);
        else if (errno != EINTR)
            return;
}

std::string read_to_end(int fd)
{
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);)
        out.append(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    return out;
}

std::string output_of(const std::string& command)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> p(::popen(command.c_str(), "r"), ::pclose);
    return p ? read_to_end(::fileno(p.get())) : "";
}

} // namespace vttest
