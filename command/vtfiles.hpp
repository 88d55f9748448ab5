// Vtfiles: the OS identity of the running process and the open helpers of the command.
#pragma once

#include "command/vtstream.hpp"

#include <initializer_list>
#include <string>

namespace Vtfiles {

enum class os_t { Linux, Solaris, FreeBSD, WinNT, OS_UNDEF };

std::string string_of_os(os_t os);
// Exact, case-sensitive match of a string form; anything else is OS_UNDEF.
os_t os_of_string(const std::string& text);

// OS_TYPE when set (even empty), else OS, else the platform's own answer.
std::string os_string_from_environment();

// The identity fixed when the program started.
extern const os_t os_type;

enum class open_flag { rdonly, wronly, append, creat, trunc, excl, binary, text, nonblock };
using open_flags = std::initializer_list<open_flag>;

// A failed open raises Sys_error "path: system text". On WinNT, set_permissions runs after
// a successful open and its answer is ignored.
in_channel vt_open_in(const std::string& path);
in_channel vt_open_in_gen(open_flags flags, int perm, const std::string& path);
out_channel vt_open_out(const std::string& path);
out_channel vt_open_out_gen(open_flags flags, int perm, const std::string& path);
// The same, for the name within an open directory, never through a symbolic link; path names
// the file in messages.
in_channel vt_open_in_at(int dir, open_flags flags, int perm, const std::string& name,
                         const std::string& path);
out_channel vt_open_out_at(int dir, open_flags flags, int perm, const std::string& name,
                           const std::string& path);

} // namespace Vtfiles
