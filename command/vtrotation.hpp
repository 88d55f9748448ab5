// The backup rotation of the user file, made safe against overlapping runs and interruption.
//
// The user file is never absent or partial: the backup is a second link to the current file,
// the new content is written beside it under a temporary name and renamed over the user file
// only once it is whole and durable. Where the file system or the kernel refuses the link, the
// backup is a durable copy, made under a temporary name and renamed into place. Whole updates
// of one etc directory are serialised by an exclusive lock on the directory itself, so no lock
// file appears beside the user file. Every step names its file within the open etc directory and
// follows no symbolic link.
//
// A backup found without a user file is the only copy of every user: it is kept aside as
// "old_vanto_users.dat.N" (the first free N), a name no later run deletes.
#pragma once

#include "command/vtstream.hpp"
#include "platform/unique_fd.hpp"

#include <string>
#include <string_view>

namespace Vtpasswd {

// The existing user file could not be kept as the backup.
struct backup_failed {};

// Quotes a text for /bin/sh so that no character of it is interpreted.
std::string shell_quote(std::string_view text);
// Runs a command line through "/bin/sh" "-c" and waits for it; answers the wait status or -1.
int run_shell(const std::string& command);

// How long a run waits for the directory lock before it gives up: anyone who may open the
// directory may hold its lock.
inline constexpr int lock_wait_seconds = 5;

class rotation {
public:
    // Works in the open etc directory dir, named dirname in messages, on the user file `file`.
    // Takes the directory lock; raises refused when another holder keeps it too long.
    rotation(cutil::unique_fd dir, const std::string& dirname, std::string_view file, bool windows);
    rotation(const rotation&) = delete;
    rotation& operator=(const rotation&) = delete;
    // Removes the unfinished new file of a run that did not commit.
    ~rotation();

    // Deletes the previous backup through the shell and keeps the user file as the backup.
    // Raises backup_failed when the user file cannot be kept, and refuses a user file that is
    // not a regular file before anything is touched. Answers the path a backup found without
    // a user file was kept aside under, or empty.
    std::string rotate_backup();
    // The backup, created empty when there was no user file.
    Vtfiles::in_channel open_backup();
    // The new content's file, beside the user file.
    Vtfiles::out_channel open_new();
    // Makes the new content durable and puts it in place of the user file.
    void commit(Vtfiles::out_channel& out);

private:
    std::string path_of(const std::string& name) const { return dirname_ + sep_ + name; }
    bool user_file_present() const;
    std::string keep_orphaned_backup() const;
    void keep_user_file_as_backup();
    void copy_user_file_to_backup();

    cutil::unique_fd dir_;
    std::string dirname_;
    std::string sep_;
    std::string file_;   // the user file
    std::string old_;    // its backup
    std::string new_;    // the new content until it is committed
    std::string copy_;   // the backup while it is copied
    bool windows_;
    bool new_opened_ = false;
    bool committed_ = false;
    bool copy_pending_ = false;
};

} // namespace Vtpasswd
