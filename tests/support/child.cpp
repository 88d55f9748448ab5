#include "support/child.hpp"

#include "support/pipes.hpp"
#include "support/sandbox.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

namespace vttest {

child_run run_in_child(const std::function<std::string()>& fn)
{
    pipe_ends out, err, answer;
    std::fflush(nullptr);
    child_run r;
    r.pid = ::fork();
    if (r.pid < 0)
        throw std::runtime_error("fork");
    if (r.pid == 0) {
        ::dup2(out.w.get(), 1);
        ::dup2(err.w.get(), 2);
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
    out.w.reset(), err.w.reset(), answer.w.reset();
    drain({{out.r.get(), &r.out}, {err.r.get(), &r.err}, {answer.r.get(), &r.answer}});
    r.status = wait_status(r.pid);
    return r;
}

} // namespace vttest
