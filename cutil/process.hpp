// Preparing a long-running service process: detaching, output files, scheduling priority.
#pragma once

#include <string>

namespace cutil {

// The number of descriptors the library assumes a process may have open.
inline constexpr int max_open_files = 64;
int get_max_open();
int open_max();

// Moves to the directory (staying put when it cannot), sets the umask to 077 and sends
// standard output and standard error to "vtstdout" and "vtstderr" there, each mode 0600 and
// truncated. Ends the process with status 5 when standard output cannot be replaced, 6 for
// standard error. Then opens the syslog connection as "vanto" for the daemon facility.
void redirect_output(const std::string& directory);

// Forks; the parent exits with status 0, the child starts a new session and answers 0.
// Answers -1 when the fork fails.
int init_daemon();

// Nice value -20 for this process: "SUCCESS", or the perror line "raise_priority: ..." on
// standard error and "Failed to raise priority".
std::string raise_priority();

} // namespace cutil
