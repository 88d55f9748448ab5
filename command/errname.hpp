// The symbolic name of an errno value ("ENOENT"), as the command's failures show it.
#pragma once

namespace Vtfailure {

// The name, or nullptr for a value that is not one of the errors POSIX names. Where two names
// share a value, the one glibc gives: EAGAIN, not EWOULDBLOCK; EOPNOTSUPP, not ENOTSUP.
const char* errno_name(int err);

} // namespace Vtfailure
