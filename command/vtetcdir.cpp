#include "command/vtetcdir.hpp"

#include "command/failure.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace Vtpasswd {

std::string untrusted_because(const std::string& dir, uid_t owner, mode_t mode, uid_t user, bool above)
{
    if (owner != 0 && owner != user)
        return dir + " is owned by uid " + std::to_string(owner) + ". Please give it to root (chown root " + dir
               + ").";
    // Above the etc directory a sticky one (/tmp) lets others add names but never move or remove
    // the trusted directory under it, which is checked in its turn.
    if (above && (mode & S_ISVTX) != 0)
        return {};
    const bool group = (mode & S_IWGRP) != 0, others = (mode & S_IWOTH) != 0;
    if (!group && !others)
        return {};
    const char* who = group && others ? "its group and others" : group ? "its group" : "others";
    const char* bits = group && others ? "go-w" : group ? "g-w" : "o-w";
    return dir + " is writable by " + who + ". Please take that away (chmod " + bits + " " + dir + ").";
}

namespace {

struct component {
    std::string name;   // within its parent
    std::string prefix; // the path up to and including it
};

std::vector<component> components_of(const std::string& path)
{
    std::vector<component> out;
    for (std::size_t at = 0; at < path.size();) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        if (end > at)
            out.push_back({path.substr(at, end - at), path.substr(0, end)});
        at = end + 1;
    }
    return out;
}

[[noreturn]] void refuse(const std::string& path, const std::string& reason)
{
    throw refused{"Unsafe etc directory " + path + ": " + reason};
}

void check_trusted(int fd, const std::string& dir, const std::string& path, bool above)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw Vtfailure::sys_error(dir, errno);
    if (std::string why = untrusted_because(dir, st.st_uid, st.st_mode, ::geteuid(), above); !why.empty())
        refuse(path, why);
}

bool is_link(int parent, const std::string& name)
{
    struct stat st;
    return ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// Only the search right is needed on the way; the etc directory itself is read and locked.
cutil::unique_fd open_component(int parent, const std::string& name, bool last)
{
    const int how = (last ? O_RDONLY : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd;
    do
        fd = ::openat(parent, name.c_str(), how);
    while (fd < 0 && errno == EINTR);
    return cutil::unique_fd(fd);
}

} // namespace

cutil::unique_fd open_etc_directory(const std::string& path, bool create)
{
    const bool absolute = !path.empty() && path.front() == '/';
    const std::vector<component> parts = components_of(path);
    const int how = (parts.empty() ? O_RDONLY : O_PATH) | O_DIRECTORY | O_CLOEXEC;
    cutil::unique_fd dir(::open(absolute ? "/" : ".", how));
    if (!dir)
        return dir;
    check_trusted(dir.get(), absolute ? "/" : ".", path, !parts.empty());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const component& c = parts[i];
        const bool last = i + 1 == parts.size();
        cutil::unique_fd next = open_component(dir.get(), c.name, last);
        if (!next && errno == ENOENT && create) {
            if (::mkdirat(dir.get(), c.name.c_str(), 0700) != 0 && errno != EEXIST)
                throw Vtfailure::unix_error(errno, "mkdir", c.prefix);
            next = open_component(dir.get(), c.name, last);
        }
        if (!next) {
            const int err = errno;
            if (is_link(dir.get(), c.name))
                refuse(path, c.prefix + " is a symbolic link. Please put the directory itself in its place.");
            // A file where a directory should be: the next directory cannot be made under it.
            if (err == ENOTDIR && create && !last)
                throw Vtfailure::unix_error(ENOTDIR, "mkdir", parts[i + 1].prefix);
            return next;
        }
        check_trusted(next.get(), c.prefix, path, !last);
        dir = std::move(next);
    }
    return dir;
}

} // namespace Vtpasswd
