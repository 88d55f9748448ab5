#include "support/child.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace vttest {

captured::captured(const std::string& text) : fd(::memfd_create("vttest", MFD_CLOEXEC))
{
    if (!fd)
        throw std::runtime_error("memfd_create");
    write_all(fd.get(), text);
    ::lseek(fd.get(), 0, SEEK_SET);
}

std::string captured::text() const
{
    return ::lseek(fd.get(), 0, SEEK_SET) == 0 ? read_to_end(fd.get()) : "";
}

void write_all(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (errno != EINTR)
            return;
    }
}

std::string read_to_end(int fd)
{
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            return out;
    }
}

pid_t start_child(const std::function<void()>& fn)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        fn();
        std::_Exit(127);
    }
    return pid;
}

int wait_status(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

child_run run_in_child(const std::function<std::string()>& fn, const std::string& input)
{
    captured in(input), out, err;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    cutil::unique_fd said(ends[0]), say(ends[1]);
    const pid_t pid = start_child([&] {
        ::dup2(in.fd.get(), 0);
        ::dup2(out.fd.get(), 1);
        ::dup2(err.fd.get(), 2);
        std::string answer;
        try {
            answer = fn();
        } catch (const std::exception& e) {
            answer = std::string("exception in child: ") + e.what();
        }
        write_all(say.get(), answer);
        std::fflush(nullptr);
        std::_Exit(0);
    });
    // The answer ends when the child and all it left running have ended.
    say.reset();
    const std::string answer = read_to_end(said.get());
    const int status = wait_status(pid);
    return {status, out.text(), err.text(), answer};
}

child_run run_shell(const std::string& command, const std::string& input)
{
    return run_in_child([&]() -> std::string {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        return "no shell";
    }, input);
}

} // namespace vttest
