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
#include <memory>

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
      backup_copy_(oldname_ + ".new"),
      windows_(windows)
{
}

rotation::~rotation()
{
    if (new_opened_ && !committed_)
        ::unlink(newname_.c_str());
    if (copy_pending_)
        ::unlink(backup_copy_.c_str());
}

// The user file's existence test. A FIFO would hold the run, and the directory lock with it,
// for ever; a device or a directory is no user file either: refused before anything changes.
bool rotation::user_file_present() const
{
    struct stat st;
    if (::stat(filename_.c_str(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode))
        throw Vtfailure::not_a_regular_file(filename_);
    return true;
}

// Without a user file, a backup that holds anything is moved to the first free numbered name
// rather than deleted; an empty one, or one that is no file, is left to the usual rotation.
void rotation::keep_orphaned_backup() const
{
    struct stat st;
    if (::lstat(oldname_.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return;
    for (unsigned n = 1;; ++n) {
        const std::string aside = oldname_ + "." + std::to_string(n);
        if (::lstat(aside.c_str(), &st) == 0)
            continue;
        // Free under the directory lock, so no other run takes it before the rename.
        if (errno != ENOENT || ::rename(oldname_.c_str(), aside.c_str()) != 0)
            throw Vtfailure::sys_error(oldname_, errno);
        return;
    }
}

// Refusals of a second link where renaming the file would still work: protected hard links
// (neither owner nor writer of the file), or a file system without links or at its link limit.
static bool link_refused(int err)
{
    return err == EPERM || err == EXDEV || err == EMLINK || err == ENOTSUP || err == EOPNOTSUPP;
}

void rotation::keep_user_file_as_backup()
{
    // A link, not a rename: the user file stays whole under its own name until the new
    // content replaces it.
    if (::link(filename_.c_str(), oldname_.c_str()) == 0)
        return;
    if (!link_refused(errno))
        throw backup_failed{};
    copy_user_file_to_backup();
}

static Vtfiles::in_channel open_regular_for_reading(const std::string& path)
{
    cutil::unique_fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        throw Vtfailure::sys_error(path, errno);
    Vtfiles::in_channel in(std::move(fd), path);
    if (!in.is_regular_file())
        throw Vtfailure::not_a_regular_file(path);
    return in;
}

void rotation::copy_user_file_to_backup()
{
    Vtfiles::in_channel from = open_regular_for_reading(filename_);
    copy_pending_ = true;
    cutil::unique_fd fd(::open(backup_copy_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd)
        throw Vtfailure::sys_error(backup_copy_, errno);
    Vtfiles::out_channel to(std::move(fd), backup_copy_);
    const std::unique_ptr<char[]> chunk(new char[Vtfiles::channel_buffer_size]);
    while (std::size_t n = from.read(chunk.get(), Vtfiles::channel_buffer_size))
        to.write(chunk.get(), n);
    from.close();
    to.sync();
    to.close();
    if (::rename(backup_copy_.c_str(), oldname_.c_str()) != 0)
        throw Vtfailure::sys_error(oldname_, errno);
    copy_pending_ = false;
}

void rotation::rotate_backup()
{
    const bool user_file = user_file_present();
    // What a killed run left of its backup copy is unfinished.
    ::unlink(backup_copy_.c_str());
    if (!user_file)
        keep_orphaned_backup();
    if (exists(oldname_))
        run_shell((windows_ ? "del " : "rm ") + shell_quote(oldname_));
    // What the shell left (a delete command this host lacks, a dangling link that the existence
    // test does not see) must not keep the backup from being replaced, as a rename would.
    struct stat st;
    if (::lstat(oldname_.c_str(), &st) == 0)
        ::unlink(oldname_.c_str());
    if (user_file)
        keep_user_file_as_backup();
}

Vtfiles::in_channel rotation::open_backup()
{
    // Non-blocking, so that a FIFO put there meanwhile is refused instead of waited on.
    Vtfiles::in_channel in =
        Vtfiles::vt_open_in_gen({open_flag::rdonly, open_flag::creat, open_flag::nonblock}, 0600, oldname_);
    if (!in.is_regular_file())
        throw Vtfailure::not_a_regular_file(oldname_);
    return in;
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
