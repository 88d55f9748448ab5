// IPv4 sockets of the service and their options. Option and flag failures are answered as
// status texts ("SUCCESS" or the message composed in err_buf); only the constructors raise.
#pragma once

#include "platform/unique_fd.hpp"

#include <functional>
#include <string>
#include <system_error>

namespace cutil {

// A system call refused by the kernel: its errno, the call's name and its argument.
class unix_error : public std::system_error {
public:
    unix_error(int err, std::string call, std::string arg);
    const std::string& call() const noexcept { return call_; }
    const std::string& arg() const noexcept { return arg_; }

private:
    std::string call_;
    std::string arg_;
};

// A new AF_INET socket of the given type (SOCK_STREAM or SOCK_DGRAM); raises unix_error
// naming "socket" when the kernel refuses.
unique_fd vt_unix_socket(int type);
unique_fd unix_socket_dgram();
unique_fd unix_socket_stream();

// The socket's descriptor number, for calls that take plain integers. Not for a temporary
// owner: it closes the socket at the end of the statement, and the number may then name
// another file.
int int_socket(const unique_fd& socket);
int int_socket(unique_fd&& socket) = delete;
int int_socket(const unique_fd&& socket) = delete;
// Closes the socket now; an already closed one is left alone. A failed close is ignored.
void vt_close_socket(unique_fd& socket);
// The same for a descriptor the caller owns as a plain integer (one it released from its
// unique_fd, or got from elsewhere): the number unchanged; a close whose failure is ignored.
int int_socket(int fd);
void vt_close_socket(int fd);

std::string reuse_addr(int fd);
std::string unblock_socket(int fd);
// The pending error, which reading clears; 0 when none, errno when it cannot be read.
int getsockerr(int fd);
std::string setsendbuf(int fd, int size);

// The service hands its waits on sockets to a handler it registers by name.
using select_handler = std::function<int(int, int)>;
inline constexpr const char* select_handler_name = "vt_unix_select";
// Registers (or replaces) the handler under the name.
void register_handler(const std::string& name, select_handler handler);
// Calls the handler registered under "vt_unix_select", looked up at the first call that finds
// one and kept from then on. Without one it reports the error and answers -1.
int call_select(int a, int b);

} // namespace cutil
