#include "command/vtfiles.hpp"

#include "command/failure.hpp"
#include "cutil/host.hpp"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>

namespace Vtfiles {

std::string string_of_os(os_t os)
{
    switch (os) {
    case os_t::Linux: return "Linux";
    case os_t::Solaris: return "Solaris";
    case os_t::FreeBSD: return "FreeBSD";
    case os_t::WinNT: return "Windows_NT";
    case os_t::OS_UNDEF: break;
    }
    return "OS_UNDEF";
}

os_t os_of_string(const std::string& text)
{
    for (os_t os : {os_t::Linux, os_t::Solaris, os_t::FreeBSD, os_t::WinNT})
        if (text == string_of_os(os))
            return os;
    return os_t::OS_UNDEF;
}

std::string os_string_from_environment()
{
    if (const char* v = std::getenv("OS_TYPE"))
        return v;
    if (const char* v = std::getenv("OS"))
        return v;
    return cutil::get_os_type();
}

const os_t os_type = os_of_string(os_string_from_environment());

static int flags_to_platform(open_flags flags)
{
    int out = 0;
    for (open_flag f : flags) {
        switch (f) {
        case open_flag::rdonly: out |= O_RDONLY; break;
        case open_flag::wronly: out |= O_WRONLY; break;
        case open_flag::append: out |= O_APPEND; break;
        case open_flag::creat: out |= O_CREAT; break;
        case open_flag::trunc: out |= O_TRUNC; break;
        case open_flag::excl: out |= O_EXCL; break;
        case open_flag::nonblock: out |= O_NONBLOCK; break;
        case open_flag::binary:
        case open_flag::text: break;
        }
    }
    return out;
}

static cutil::unique_fd open_or_raise(int dir, const char* name, int flags, int perm, const std::string& path)
{
    int fd;
    do
        fd = ::openat(dir, name, flags | O_CLOEXEC, static_cast<mode_t>(perm));
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw Vtfailure::sys_error(path, errno);
    if (os_type == os_t::WinNT)
        cutil::set_permissions(path);
    return cutil::unique_fd(fd);
}

in_channel vt_open_in_gen(open_flags flags, int perm, const std::string& path)
{
    return in_channel(open_or_raise(AT_FDCWD, path.c_str(), flags_to_platform(flags), perm, path), path);
}

out_channel vt_open_out_gen(open_flags flags, int perm, const std::string& path)
{
    return out_channel(open_or_raise(AT_FDCWD, path.c_str(), flags_to_platform(flags), perm, path), path);
}

in_channel vt_open_in_at(int dir, open_flags flags, int perm, const std::string& name,
                         const std::string& path)
{
    const int how = flags_to_platform(flags) | O_NOFOLLOW;
    return in_channel(open_or_raise(dir, name.c_str(), how, perm, path), path);
}

out_channel vt_open_out_at(int dir, open_flags flags, int perm, const std::string& name,
                           const std::string& path)
{
    const int how = flags_to_platform(flags) | O_NOFOLLOW;
    return out_channel(open_or_raise(dir, name.c_str(), how, perm, path), path);
}

in_channel vt_open_in(const std::string& path)
{
    return vt_open_in_gen({open_flag::rdonly, open_flag::text}, 0, path);
}

out_channel vt_open_out(const std::string& path)
{
    return vt_open_out_gen({open_flag::wronly, open_flag::creat, open_flag::trunc, open_flag::text}, 0666, path);
}

} // namespace Vtfiles
