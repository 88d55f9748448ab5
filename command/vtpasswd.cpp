#include "command/vtpasswd.hpp"

#include "command/failure.hpp"
#include "command/vtfiles.hpp"
#include "command/vtetcdir.hpp"
#include "command/vtpwdhdr.hpp"
#include "command/vtrotation.hpp"
#include "command/vtterminal.hpp"
#include "command/vtstrings.hpp"
#include "cutil/host.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace Vtpasswd {

using Vtfiles::os_t;
namespace hdr = Vtpwdhdr;

namespace {

// One message of the command: its own line on standard error.
void say(const std::string& message)
{
    std::string line = message + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

[[noreturn]] void vanto_exit(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

std::string read_request_line()
{
    char* buf = nullptr;
    std::size_t cap = 0;
    errno = 0;
    ssize_t n;
    {
        const echo_off quiet(STDIN_FILENO);
        n = ::getline(&buf, &cap, stdin);
    }
    const int err = errno;
    const std::unique_ptr<char, decltype(&std::free)> owned(buf, &std::free);
    if (n < 0) {
        // A line too long for the memory there is ends the read without end of file.
        if (err == ENOMEM && !std::feof(stdin))
            throw Vtfailure::out_of_memory();
        if (std::ferror(stdin))
            throw Vtfailure::sys_error("<stdin>", err);
        throw Vtfailure::end_of_file();
    }
    std::string line(buf, static_cast<std::size_t>(n));
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

// The values every record written for the user carries in this run.
struct material {
    std::string salt, md5, hidesalt, secret;
};

std::string_view token_bytes(const cutil::random_token& token)
{
    return std::string_view(reinterpret_cast<const char*>(token.data()), token.size());
}

material make_material(const std::string& passwd)
{
    material m;
    const cutil::random_token salt = cutil::make_random();
    m.salt = hdr::bin_to_hex(token_bytes(salt), 16);
    m.md5 = hdr::bin_to_hex(hdr::initial_md5(passwd, token_bytes(salt), hdr::large_number), 16);
    const cutil::random_token hidesalt = cutil::make_random();
    m.hidesalt = hdr::bin_to_hex(token_bytes(hidesalt), 16);
    m.secret = hdr::bin_to_hex(hdr::initial_md5(passwd, token_bytes(hidesalt), 1), 16);
    return m;
}

void write_fresh(Vtfiles::out_channel& out, const std::string& user, const material& m)
{
    hdr::write_pwd_line(out, user, hdr::large_number, m.salt, m.md5, m.hidesalt, m.secret);
}

void write_unchanged(Vtfiles::out_channel& out, const hdr::pwd_record& r)
{
    hdr::write_pwd_record(out, r);
}

bool old_passwd_matches(const hdr::pwd_record& r, const std::string& old_passwd)
{
    const std::string salt = hdr::hex_to_bin(r.salt(), 16);
    return hdr::bin_to_hex(hdr::initial_md5(old_passwd, salt, r.number()), 16) == r.md5();
}

// The messages of the records handled, said once the run's outcome is known: a change is
// claimed only once it is committed.
class notes {
public:
    void changed(const std::string& user) { lines_.push_back({true, "Password changed for user " + user + "."}); }
    void other(std::string line) { lines_.push_back({false, std::move(line)}); }
    void say_all(bool committed) const
    {
        for (const auto& [change, line] : lines_)
            if (committed || !change)
                say(line);
    }

private:
    std::vector<std::pair<bool, std::string>> lines_;
};

struct copy_outcome {
    int exitcode = 1;
    bool unreadable = false; // the reader answered "ERR"
};

copy_outcome copy_records(Vtfiles::in_channel& in, Vtfiles::out_channel& out, const std::string& user,
                          const std::string& old_passwd, const material& fresh, notes& said)
{
    copy_outcome outcome;
    bool found = false;
    // The name as a record holds it: cut to its field. A name longer than the field, given
    // again, finds the record it made (and its old password is checked) instead of adding one.
    const std::string key(stored_name(hdr::spaceduser(user)));
    for (;;) {
        const hdr::pwd_record r = hdr::read_pwd_line(in);
        if (r.code() == hdr::code_eof) {
            if (!found) {
                write_fresh(out, user, fresh);
                said.changed(user);
                outcome.exitcode = 0;
            }
            return outcome;
        }
        if (r.code() != hdr::code_ok) {
            outcome.unreadable = true;
            return outcome;
        }
        if (stored_name(r.user()) != key) {
            write_unchanged(out, r);
            continue;
        }
        found = true;
        if (old_passwd_matches(r, old_passwd)) {
            write_fresh(out, user, fresh);
            said.changed(user);
            outcome.exitcode = 0;
        } else {
            write_unchanged(out, r);
            said.other("Bad old passwd " + old_passwd + " for " + user + ". Please try again.");
            outcome.exitcode = 1;
        }
    }
}

} // namespace

bool parse_request(const std::string& line, request& out)
{
    const std::vector<std::string> fields = Vtfiles::string_split(" ", line);
    if (fields.size() < 2)
        return false;
    out.user = fields[0];
    out.passwd = fields[1];
    out.old_passwd = fields.size() >= 3 ? fields[2] : std::string();
    return true;
}

std::size_t strindx(char chr, std::string_view text)
{
    std::size_t i = text.find(chr);
    if (i == std::string_view::npos)
        throw Vtfailure::failure("Vtpasswd.NotFound");
    return i;
}

std::string_view stored_name(std::string_view field)
{
    std::size_t space = field.find(' ');
    return space == std::string_view::npos ? field : field.substr(0, space);
}

int update_passwd(const std::string& new_user, const std::string& new_passwd, const std::string& old_passwd,
                  cutil::unique_fd dir, const std::string& dirname, std::string_view file)
{
    const material fresh = make_material(new_passwd);
    const std::string filename = dirname + cutil::file_sep() + std::string(file);
    notes said;
    try {
        rotation rot(std::move(dir), dirname, file, Vtfiles::os_type == os_t::WinNT);
        if (const std::string kept = rot.rotate_backup(); !kept.empty())
            say("Password file " + filename + " missing: the users of its backup are kept in " + kept + ".");
        Vtfiles::in_channel in = rot.open_backup();
        Vtfiles::out_channel out = rot.open_new();
        const copy_outcome outcome = copy_records(in, out, new_user, old_passwd, fresh, said);
        if (outcome.unreadable) {
            said.say_all(false);
            say("Encountered an error while reading the password file " + filename +
                ". Please check that the directory exists with the appropriate permissions set.");
            return 1;
        }
        in.close();
        rot.commit(out);
        said.say_all(true);
        return outcome.exitcode;
    } catch (const refused& r) {
        said.say_all(false);
        say(r.line);
    } catch (const backup_failed&) {
        said.say_all(false);
        say("Unable to read old information from " + filename +
            ". Please make sure the file is not locked by another application.");
    } catch (const std::exception&) {
        said.say_all(false);
        say("Could not open password file " + filename +
            ". Please check that the directory exists with the appropriate permissions set.");
    }
    return 1;
}

int update_passwd(const std::string& new_user, const std::string& new_passwd, const std::string& old_passwd,
                  const std::string& dirname, std::string_view file)
{
    cutil::unique_fd dir(::open(dirname.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return update_passwd(new_user, new_passwd, old_passwd, std::move(dir), dirname, file);
}

void add_passwd(const std::string& new_user, const std::string& new_passwd, const std::string& old_passwd,
                cutil::unique_fd dir, const std::string& dirname, std::string_view file)
{
    vanto_exit(update_passwd(new_user, new_passwd, old_passwd, std::move(dir), dirname, file));
}

int main(int argc, char** argv)
{
    const os_t os = Vtfiles::os_type;
    if (os != os_t::WinNT)
        cutil::call_umask(077);

    std::fputs("vtpasswd> ", stdout);
    std::fflush(stdout);
    request req;
    if (!parse_request(read_request_line(), req)) {
        const char* program = argc > 0 && argv[0] ? argv[0] : "";
        say(std::string("Usage: ") + program + " user passwd [oldpasswd]");
        return 1;
    }

    const std::string dirname = cutil::get_etc_directory();
    const bool create = os == os_t::Linux || os == os_t::Solaris || os == os_t::FreeBSD;
    cutil::unique_fd dir;
    try {
        dir = open_etc_directory(dirname, create);
    } catch (const refused& r) {
        say(r.line);
        return 1;
    }
    add_passwd(req.user, req.passwd, req.old_passwd, std::move(dir), dirname, users_file);
}

} // namespace Vtpasswd
