// Any user file under any request: the backup holds it as it was, the user file is untouched or
// whole records, nothing else is left, and a password just set changes with itself as the old one.
#include "command/vtpasswd.hpp"
#include "command/vtpwdhdr.hpp"
#include "fuzz/check.hpp"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

// On tmpfs where there is one: every run makes its files durable.
static const struct scratch_dir {
    std::string path = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : fs::temp_directory_path().string()) + "/vtfuzz-XXXXXX";
    scratch_dir() { vtfuzz::require(::mkdtemp(path.data()) != nullptr, "a scratch directory"); }
    ~scratch_dir() { fs::remove_all(path); }
} dir;
static const std::string users = dir.path + "/vanto_users.dat", backup = dir.path + "/old_vanto_users.dat";

static std::string read_file(const std::string& path) { return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str(); }

static int update(const Vtpasswd::request& req)
{
    ::unlink(backup.c_str()); // so that no shell is started to delete it
    return Vtpasswd::update_passwd(req.user, req.passwd, req.old_passwd, dir.path, Vtpasswd::users_file);
}

// The first line is the request; the rest is the user file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input = vtfuzz::text_of(data, size);
    const std::size_t nl = input.find('\n');
    Vtpasswd::request req;
    if (nl == std::string_view::npos || !Vtpasswd::parse_request(std::string(input.substr(0, nl)), req))
        req = {"admin", "n3w", "s3cret"};
    const std::string_view before = nl == std::string_view::npos ? input : input.substr(nl + 1);
    vtfuzz::require(static_cast<bool>(std::ofstream(users, std::ios::binary | std::ios::trunc) << before), "the user file written");
    const int status = update(req);
    const std::string after = read_file(users);
    constexpr std::size_t line = Vtpwdhdr::line_length;
    vtfuzz::require(status == 0 || status == 1, "a status of 0 or 1");
    vtfuzz::require(read_file(backup) == before, "the backup holds the file as it was");
    vtfuzz::require(after == before || (after.size() % line == 0 && (after.size() == before.size() || after.size() == before.size() + line)),
                    "the user file untouched, or whole records with at most one added");
    vtfuzz::require(fs::exists(users) && fs::exists(backup) && std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()) == 2,
                    "no other file left");
    vtfuzz::require(status == 1 || update({req.user, "again", req.passwd}) == 0, "a password just set changes");
    vtfuzz::require(read_file(users).size() == after.size(), "a change adds no record");
    return 0;
}
