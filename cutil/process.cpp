#include "cutil/process.hpp"

#include "cutil/report.hpp"
#include "platform/unique_fd.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace cutil {

int get_max_open() { return max_open_files; }
int open_max() { return max_open_files; }

static unique_fd open_output(const char* name)
{
    int fd;
    do
        fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    unique_fd out(fd);
    // A file left from an earlier run keeps its old mode through the truncation; the service's
    // output may carry addresses and user names, so it is for the owner only, always.
    if (out)
        ::fchmod(out.get(), 0600);
    return out;
}

void redirect_output(const std::string& directory)
{
    // A directory that cannot be entered leaves the files in the current one.
    [[maybe_unused]] bool entered = ::chdir(directory.c_str()) == 0;
    ::umask(077);
    unique_fd out = open_output("vtstdout");
    unique_fd err = open_output("vtstderr");
    // Whatever the streams buffered so far belongs to the old destinations.
    std::fflush(stdout);
    std::fflush(stderr);
    // A failed open shows here as a failed duplication of descriptor -1.
    if (::dup2(out.get(), STDOUT_FILENO) < 0)
        std::exit(5);
    if (::dup2(err.get(), STDERR_FILENO) < 0)
        std::exit(6);
    // A service started with standard output or error closed gets that very number back from
    // open; closing it then would close the redirected stream itself.
    for (unique_fd* fd : {&out, &err}) {
        if (fd->get() == STDOUT_FILENO || fd->get() == STDERR_FILENO)
            fd->release();
    }
    out.reset();
    err.reset();
    ::openlog("vanto", LOG_PID, LOG_DAEMON);
}

int init_daemon()
{
    // Flushed once here so that neither process writes the other's pending output again.
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid > 0)
        std::_Exit(0);
    ::setsid();
    return 0;
}

std::string raise_priority()
{
    if (::setpriority(PRIO_PROCESS, 0, -20) == 0)
        return "SUCCESS";
    report_perror("raise_priority");
    return "Failed to raise priority";
}

} // namespace cutil
