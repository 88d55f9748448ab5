#include "support/child.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
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


child_run run_in_child(const std::function<std::string()>& fn)
{
    captured out, err;
    pipe_ends answer;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        ::dup2(out.fd.get(), 1);
        ::dup2(err.fd.get(), 2);
        std::string result;
        try {
            result = fn();
        } catch (const std::exception& e) {
            result = std::string("exception in child: ") + e.what();
        }
        write_all(answer.w.get(), result);
        std::fflush(nullptr);
        std::_Exit(0);
    }
    // The answer's end is where the child and whatever it left running have all ended.
    answer.w.reset();
    std::string said = read_to_end(answer.r.get());
    return {wait_status(pid), out.text(), err.text(), said};
}

int wait_status(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace vttest
