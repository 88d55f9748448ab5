#include "support/child.hpp"

#include "support/pipes.hpp"
#include "support/sandbox.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

namespace vttest {

child_run run_in_child(const std::function<std::string()>& fn)
{
    pipe_ends out, err, answer;
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        ::dup2(out.w, 1);
        ::dup2(err.w, 2);
        std::string result;
        try {
            result = fn();
        } catch (const std::exception& e) {
            result = std::string("exception in child: ") + e.what();
        }
        write_all(answer.w, result);
        std::fflush(nullptr);
        std::_Exit(0);
    }
    out.close_w();
    err.close_w();
    answer.close_w();
    child_run r;
    r.pid = pid;
    drain({{out.r, &r.out}, {err.r, &r.err}, {answer.r, &r.answer}});
    r.status = wait_status(pid);
    return r;
}

} // namespace vttest
