#include "support/child.hpp"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace vttest {

child_run run_in_child(const std::function<std::string()>& fn)
{
    captured out, err;
    pipe_ends answer;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        ::dup2(out.fd.get(), 1), ::dup2(err.fd.get(), 2);
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
    child_run r{.answer = read_to_end(answer.r.get())};
    r.status = wait_status(pid);
    r.out = out.text(), r.err = err.text();
    return r;
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
