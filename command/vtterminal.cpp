#include "command/vtterminal.hpp"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace Vtpasswd {

namespace {

// What the signal handler needs: one terminal per process, set up before the handlers.
int terminal = -1;
termios saved;
termios quiet;

// The signals that end or stop a process reading from its terminal.
constexpr int caught[] = {SIGALRM, SIGHUP, SIGINT, SIGPIPE, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU};
struct sigaction previous[sizeof caught / sizeof caught[0]];

// Quiet from a clean start, as a password prompt is; back at once, whatever is pending.
void set_terminal(const termios& t)
{
    const int when = &t == &quiet ? TCSAFLUSH : TCSANOW;
    while (::tcsetattr(terminal, when, &t) != 0 && errno == EINTR) {
    }
}

// Gives the terminal its settings back, then lets the signal do what it would have done; a
// process that was stopped and goes on reads quietly again.
void restore_and_raise(int sig)
{
    const int saved_errno = errno;
    set_terminal(saved);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    struct sigaction mine;
    ::sigaction(sig, &dfl, &mine);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    ::raise(sig);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::sigaction(sig, &mine, nullptr);
    set_terminal(quiet);
    errno = saved_errno;
}

} // namespace

echo_off::echo_off(int fd)
{
    if (!::isatty(fd) || ::tcgetattr(fd, &saved) != 0)
        return;
    terminal = fd;
    quiet = saved;
    quiet.c_lflag &= ~(ECHO | ECHOE | ECHOK);
    quiet.c_lflag |= ECHONL;
    struct sigaction sa {};
    sa.sa_handler = restore_and_raise;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (std::size_t i = 0; i < std::size(caught); ++i)
        ::sigaction(caught[i], &sa, &previous[i]);
    set_terminal(quiet);
}

echo_off::~echo_off()
{
    if (terminal < 0)
        return;
    set_terminal(saved);
    for (std::size_t i = 0; i < std::size(caught); ++i)
        ::sigaction(caught[i], &previous[i], nullptr);
    terminal = -1;
}

} // namespace Vtpasswd
