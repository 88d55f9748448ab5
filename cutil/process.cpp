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

// A descriptor numbered above the standard ones, so that duplicating it onto 1 or 2 always
// makes a fresh, inheritable descriptor and never leaves a stream in two places.
static unique_fd above_standard(unique_fd fd)
{
    if (!fd || fd.get() > STDERR_FILENO)
        return fd;
    return unique_fd(::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
}

static int open_retrying(const char* name, int flags)
{
    int fd;
    do
        fd = ::open(name, flags | O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// The output file of one stream. A regular file of the directory is truncated and made the
// owner's only, since the service's output may carry addresses and user names. Whatever an
// administrator put there instead is written as it stands: a link is followed and appended to,
// with its target's content and mode left alone; a FIFO without a reader fails at once instead
// of holding the service in open, and one with a reader then blocks like any stream.
static unique_fd open_output(const char* name)
{
    unique_fd out(open_retrying(name, O_CREAT | O_NOFOLLOW));
    // A link refused by O_NOFOLLOW: ELOOP here, EMLINK on the BSDs.
    const bool through_link = !out && (errno == ELOOP || errno == EMLINK);
    if (through_link)
        out.reset(open_retrying(name, O_APPEND));
    struct stat st;
    if (!out || ::fstat(out.get(), &st) != 0)
        return unique_fd();
    if (S_ISREG(st.st_mode) && !through_link) {
        if (::ftruncate(out.get(), 0) != 0 || ::fchmod(out.get(), 0600) != 0)
            return unique_fd();
    }
    const int flags = ::fcntl(out.get(), F_GETFL);
    if (flags < 0 || ::fcntl(out.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return unique_fd();
    return above_standard(std::move(out));
}

void redirect_output(const std::string& directory)
{
    // A directory that cannot be entered leaves the files in the current one.
    [[maybe_unused]] bool entered = ::chdir(directory.c_str()) == 0;
    ::umask(077);
    // A service started with standard descriptors closed gets their numbers back from open;
    // each file is moved above them before the next open, and the low number closed again.
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
