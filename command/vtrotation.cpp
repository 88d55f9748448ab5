#include "command/vtrotation.hpp"

#include "command/failure.hpp"
#include "command/vtetcdir.hpp"
#include "command/vtfiles.hpp"
#include "cutil/host.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

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

// Waits a bounded time: the lock of a directory anyone may open is anyone's to hold.
static void lock_directory(int dir, const std::string& dirname)
{
    using clock = std::chrono::steady_clock;
    const clock::time_point give_up = clock::now() + std::chrono::seconds(lock_wait_seconds);
    auto pause = std::chrono::milliseconds(1);
    while (::flock(dir, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            throw Vtfailure::sys_error(dirname, errno);
        if (clock::now() >= give_up)
            throw refused{"The etc directory " + dirname + " has been locked by another process for "
                          + std::to_string(lock_wait_seconds)
                          + " seconds. Please try again once it has finished."};
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

// The entry itself, never what a link names; nothing when there is none.
static std::optional<struct stat> entry(int dir, const std::string& name)
{
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return st;
}

rotation::rotation(cutil::unique_fd dir, const std::string& dirname, std::string_view file, bool windows)
    : dir_(std::move(dir)),
      dirname_(dirname),
      sep_(cutil::file_sep()),
      file_(file),
      old_("old_" + file_),
      new_(file_ + ".new"),
      copy_(old_ + ".new"),
      windows_(windows)
{
    if (!dir_)
        throw Vtfailure::sys_error(dirname_, ENOENT);
    lock_directory(dir_.get(), dirname_);
}

rotation::~rotation()
{
    if (new_opened_ && !committed_)
        ::unlinkat(dir_.get(), new_.c_str(), 0);
    if (copy_pending_)
        ::unlinkat(dir_.get(), copy_.c_str(), 0);
}

// The user file's existence test. A FIFO would hold the run, and the directory lock with it,
// for ever; a device, a directory or a symbolic link is no user file either: refused before
// anything changes.
bool rotation::user_file_present() const
{
    const std::optional<struct stat> st = entry(dir_.get(), file_);
    if (!st)
        return false;
    if (!S_ISREG(st->st_mode))
        throw Vtfailure::not_a_regular_file(path_of(file_));
    return true;
}

// Without a user file, a backup that holds anything is moved to the first free numbered name
// rather than deleted; an empty one, or one that is no file, is left to the usual rotation.
std::string rotation::keep_orphaned_backup() const
{
    const std::optional<struct stat> st = entry(dir_.get(), old_);
    if (!st || !S_ISREG(st->st_mode) || st->st_size == 0)
        return {};
    for (unsigned n = 1;; ++n) {
        const std::string aside = old_ + "." + std::to_string(n);
        if (entry(dir_.get(), aside))
            continue;
        // Free under the directory lock, so no other run takes it before the rename.
        if (errno != ENOENT || ::renameat(dir_.get(), old_.c_str(), dir_.get(), aside.c_str()) != 0)
            throw Vtfailure::sys_error(path_of(old_), errno);
        return path_of(aside);
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
    if (::linkat(dir_.get(), file_.c_str(), dir_.get(), old_.c_str(), 0) == 0)
        return;
    if (!link_refused(errno))
        throw backup_failed{};
    copy_user_file_to_backup();
}

void rotation::copy_user_file_to_backup()
{
    cutil::unique_fd fd(::openat(dir_.get(), file_.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        throw Vtfailure::sys_error(path_of(file_), errno);
    Vtfiles::in_channel from(std::move(fd), path_of(file_));
    if (!from.is_regular_file())
        throw Vtfailure::not_a_regular_file(path_of(file_));
    copy_pending_ = true;
    fd.reset(::openat(dir_.get(), copy_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd)
        throw Vtfailure::sys_error(path_of(copy_), errno);
    Vtfiles::out_channel to(std::move(fd), path_of(copy_));
    const std::unique_ptr<char[]> chunk(new char[Vtfiles::channel_buffer_size]);
    while (std::size_t n = from.read(chunk.get(), Vtfiles::channel_buffer_size))
        to.write(chunk.get(), n);
    from.close();
    to.sync();
    to.close();
    if (::renameat(dir_.get(), copy_.c_str(), dir_.get(), old_.c_str()) != 0)
        throw Vtfailure::sys_error(path_of(old_), errno);
    copy_pending_ = false;
}

std::string rotation::rotate_backup()
{
    const bool user_file = user_file_present();
    // What a killed run left of its backup copy is unfinished.
    ::unlinkat(dir_.get(), copy_.c_str(), 0);
    const std::string kept = user_file ? std::string() : keep_orphaned_backup();
    // A link is removed as itself, never handed to the shell by a name it might follow.
    if (const std::optional<struct stat> st = entry(dir_.get(), old_); st && !S_ISLNK(st->st_mode))
        run_shell((windows_ ? "del " : "rm ") + shell_quote(path_of(old_)));
    // What the shell left (a delete command this host lacks, a link) must not keep the backup
    // from being replaced, as a rename would.
    if (entry(dir_.get(), old_))
        ::unlinkat(dir_.get(), old_.c_str(), 0);
    if (user_file)
        keep_user_file_as_backup();
    return kept;
}

Vtfiles::in_channel rotation::open_backup()
{
    // Non-blocking, so that a FIFO put there meanwhile is refused instead of waited on.
    Vtfiles::in_channel in = Vtfiles::vt_open_in_at(
        dir_.get(), {open_flag::rdonly, open_flag::creat, open_flag::nonblock}, 0600, old_, path_of(old_));
    if (!in.is_regular_file())
        throw Vtfailure::not_a_regular_file(path_of(old_));
    return in;
}

Vtfiles::out_channel rotation::open_new()
{
    // What an interrupted run left here is an unfinished copy; the user file is whole.
    ::unlinkat(dir_.get(), new_.c_str(), 0);
    Vtfiles::out_channel out = Vtfiles::vt_open_out_at(
        dir_.get(), {open_flag::wronly, open_flag::creat, open_flag::excl}, 0600, new_, path_of(new_));
    new_opened_ = true;
    return out;
}

void rotation::commit(Vtfiles::out_channel& out)
{
    out.sync();
    out.close();
    if (::renameat(dir_.get(), new_.c_str(), dir_.get(), file_.c_str()) != 0)
        throw Vtfailure::sys_error(path_of(file_), errno);
    committed_ = true;
    if (::fsync(dir_.get()) != 0)
        throw Vtfailure::sys_error(path_of(file_), errno);
}

} // namespace Vtpasswd
