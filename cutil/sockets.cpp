#include "cutil/sockets.hpp"

#include "cutil/report.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>

namespace cutil {

unix_error::unix_error(int err, std::string call, std::string arg)
    : std::system_error(err, std::generic_category(), call), call_(std::move(call)), arg_(std::move(arg))
{
}

unique_fd vt_unix_socket(int type)
{
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw unix_error(errno, "socket", "");
    return unique_fd(fd);
}

unique_fd unix_socket_dgram() { return vt_unix_socket(SOCK_DGRAM); }
unique_fd unix_socket_stream() { return vt_unix_socket(SOCK_STREAM); }

int int_socket(const unique_fd& socket) { return socket.get(); }

void vt_close_socket(unique_fd& socket) { socket.reset(); }

int int_socket(int fd) { return fd; }

void vt_close_socket(int fd) { (void)::close(fd); }

// Composes "<format with the system's text of errno>" and answers it as the status text.
static std::string failed(const char* format)
{
    return std::string(compose_err(format, std::strerror(errno)));
}

std::string reuse_addr(int fd)
{
    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return failed("reuse_addr: SO_REUSEADDR: %s");
    return "SUCCESS";
}

std::string unblock_socket(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return failed("unblock_socket: F_GETFL: %s");
    // The service matches this one text for either step, so the write keeps the same words.
    if (::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return failed("unblock_socket: F_GETFL: %s");
    return "SUCCESS";
}

int getsockerr(int fd)
{
    int pending = 0;
    socklen_t len = sizeof pending;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &len) != 0)
        return errno;
    return pending;
}

std::string setsendbuf(int fd, int size)
{
    // The home kernel refuses a send buffer below one byte with EINVAL; Linux would quietly
    // clamp it to its maximum instead, so the refusal is made here.
    if (size < 1) {
        errno = EINVAL;
        return failed("setsendbuf: SO_SNDBUF: %s");
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) != 0)
        return failed("setsendbuf: SO_SNDBUF: %s");
    return "SUCCESS";
}

static std::map<std::string, select_handler>& handlers()
{
    static std::map<std::string, select_handler> registry;
    return registry;
}

void register_handler(const std::string& name, select_handler handler)
{
    handlers()[name] = std::move(handler);
}

int call_select(int a, int b)
{
    static std::optional<select_handler> kept;
    if (!kept) {
        auto it = handlers().find(select_handler_name);
        if (it == handlers().end() || !it->second) {
            report_error(compose_err("call_select: no handler registered as %s\n", select_handler_name));
            return -1;
        }
        kept = it->second;
    }
    return (*kept)(a, b);
}

} // namespace cutil
