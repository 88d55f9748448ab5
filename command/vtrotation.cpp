#include "command/vtrotation.hpp"

#include "command/failure.hpp"
#include "command/vtfiles.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace Vtpasswd {

using Vtfiles::open_flag;

std::string shell_quote(std::string_view text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

int run_shell(const std::string& command)
{
    char sh[] = "/bin/sh", dash_c[] = "-c";
    std::string line = command;
    char* argv[] = {sh, dash_c, line.data(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

static cutil::unique_fd lock_directory(const std::string& dirname)
{
    cutil::unique_fd dir(::open(dirname.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        throw Vtfailure::sys_error(dirname, errno);
    while (::flock(dir.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            throw Vtfailure::sys_error(dirname, errno);
    }
    return dir;
}

static bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

rotation::rotation(const std::string& dirname, std::string filename, std::string oldname, bool windows)
    : dir_(lock_directory(dirname)),
      filename_(std::move(filename)),
      oldname_(std::move(oldname)),
      newname_(filename_ + ".new"),
      windows_(windows)
{
}

rotation::~rotation()
{
    if (new_opened_ && !committed_)
        ::unlink(newname_.c_str());
}

void rotation::rotate_backup()
{
    if (exists(oldname_))
        run_shell((windows_ ? "del " : "rm ") + shell_quote(oldname_));
    // What the shell left (a delete command this host lacks, a dangling link that the existence
    // test does not see) must not keep the backup from being replaced, as a rename would.
    struct stat st;
    if (::lstat(oldname_.c_str(), &st) == 0)
        ::unlink(oldname_.c_str());
    // A link, not a rename: the user file stays whole under its own name until the new
    // content replaces it.
    if (exists(filename_) && ::link(filename_.c_str(), oldname_.c_str()) != 0)
        throw backup_failed{};
}

Vtfiles::in_channel rotation::open_backup()
{
    return Vtfiles::vt_open_in_gen({open_flag::rdonly, open_flag::creat}, 0600, oldname_);
}

Vtfiles::out_channel rotation::open_new()
{
    // What an interrupted run left here is an unfinished copy; the user file is whole.
    ::unlink(newname_.c_str());
    Vtfiles::out_channel out =
        Vtfiles::vt_open_out_gen({open_flag::wronly, open_flag::creat, open_flag::excl}, 0600, newname_);
    new_opened_ = true;
    return out;
}

void rotation::commit(Vtfiles::out_channel& out)
{
    out.sync();
    out.close();
    if (::rename(newname_.c_str(), filename_.c_str()) != 0)
        throw Vtfailure::sys_error(filename_, errno);
    committed_ = true;
    if (::fsync(dir_.get()) != 0)
        throw Vtfailure::sys_error(filename_, errno);
}

} // namespace Vtpasswd
