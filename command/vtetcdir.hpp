// The etc directory, trusted before anything in it is touched. It is opened once, from "/" one
// component at a time with no symbolic link followed, and every later step of the run works
// relative to that descriptor, so no name can be swapped under the run. Each component must be
// owned by root or the running user and writable by no one else: otherwise whoever may write
// there may replace the product's users.
#pragma once

#include "platform/unique_fd.hpp"

#include <sys/types.h>

#include <string>

namespace Vtpasswd {

// A run the command refuses before touching anything: the one line it says, and status 1.
struct refused {
    std::string line;
};

// Why a directory with this owner and mode lets someone other than root and the user change
// what it holds, with what to change; empty when nothing does. A sticky directory above the etc
// directory is trusted.
std::string untrusted_because(const std::string& dir, uid_t owner, mode_t mode, uid_t user, bool above);

// The etc directory opened for reading and locking, each component checked as it is walked;
// with create, a missing one is made with mode 0700 (a failure raises Unix_error of "mkdir").
// Raises refused for a link or an untrusted component. Answers no descriptor for a component
// that is missing or no directory: the update then cannot open the user file.
cutil::unique_fd open_etc_directory(const std::string& path, bool create);

} // namespace Vtpasswd
