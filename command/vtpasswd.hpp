// Vtpasswd: the command's entry and the password update of one user.
#pragma once

#include "platform/unique_fd.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Vtpasswd {

inline constexpr std::string_view users_file = "vanto_users.dat";
inline constexpr std::string_view backup_prefix = "old_";

// The request line's fields; fewer than two means a usage error.
struct request {
    std::string user;
    std::string passwd;
    std::string old_passwd;
};
bool parse_request(const std::string& line, request& out);

// First position holding the character; raises the module's NotFound when none.
std::size_t strindx(char chr, std::string_view text);
// The stored name: the name field up to its first space, or the whole field.
std::string_view stored_name(std::string_view field);

// The update as far as its exit status: rewrites the user file in the open directory dir,
// named dirname in messages (no descriptor: the file cannot be opened).
int update_passwd(const std::string& new_user, const std::string& new_passwd, const std::string& old_passwd,
                  cutil::unique_fd dir, const std::string& dirname, std::string_view file);
// The same in dirname as it stands, trusted by the caller.
int update_passwd(const std::string& new_user, const std::string& new_passwd, const std::string& old_passwd,
                  const std::string& dirname, std::string_view file);
// The whole update; ends the process with its status.
[[noreturn]] void add_passwd(const std::string& new_user, const std::string& new_passwd, const std::string& old_passwd,
                             cutil::unique_fd dir, const std::string& dirname, std::string_view file);

// The command: prompt, request, etc directory, update. Answers the exit status of a usage
// error; otherwise ends the process itself.
int main(int argc, char** argv);

} // namespace Vtpasswd
