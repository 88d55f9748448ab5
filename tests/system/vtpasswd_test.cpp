// The command on the real binary: requests, identities, and the update of the user file with
// every file of the etc directory read back after the runs.
#include "platform/unique_fd.hpp"
#include "support/console.hpp"
#include "support/records.hpp"
#include "support/sandbox_fixture.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>

using namespace vttest;
namespace fs = std::filesystem;

namespace {

const std::string users_path = VT_ETC_DIR "/vanto_users.dat";
const std::string check_dir = ". Please check that the directory exists with the appropriate permissions set.\n";
const std::string unopened = "Could not open password file " + users_path + check_dir;

// The lines of a file: each record as the user name it stores, with "*" when it is none of the
// lines the directory held before the runs; a short tail as "~" and its length.
std::string layout(const std::string& content, const std::set<std::string>& before)
{
    std::string out;
    for (const std::string& line : lines_of(content))
        out += (out.empty() ? "" : " ") + (line.size() < 157 ? "~" + std::to_string(line.size())
                                                             : line.substr(0, line.find(' ')) + (before.count(line) ? "" : "*"));
    return out;
}

// The modes of the etc directory and its parent, then its entries with the user file and its
// backup called "users" and "backup": "700 700: backup 600 a b; users 600 a b*".
std::string listing(const sandbox& box, const std::set<std::string>& before)
{
    if (!fs::is_directory(box.etc_dir()))
        return "no etc";
    char modes[16];
    std::snprintf(modes, sizeof modes, "%o %o: ", file_mode(box.etc_dir() + "/.."), file_mode(box.etc_dir()));
    std::string out = modes + tree(box.etc_dir(), [&](const std::string& content) { return layout(content, before); });
    for (const auto& [full, shown] : {std::pair{"old_vanto_users.dat", "backup"}, {"vanto_users.dat", "users"}})
        for (std::size_t at; (at = out.find(full)) != std::string::npos;)
            out.replace(at, std::strlen(full), shown);
    return out;
}

// One case: a fresh etc directory (or none), prepared, then one run per input.
struct run_case {
    const char* label;
    std::optional<std::string> users = {}, backup = {}; // written before the runs
    std::function<void(const sandbox&)> prepare = {};
    std::vector<std::string> inputs;                     // standard input of each run
    std::string statuses;                                // their exit statuses, one blank between
    std::string err;                                     // their standard error, timed lines made constant
    std::string after;                                   // listing() after the runs
    environment env = {};
    child_setup setup = {};
    bool etc = true; // the etc directory exists before the runs
};

// Standard error without the lines of the host's shell and rm, whose wording is theirs.
std::string ours(const std::string& err)
{
    std::string out;
    for (std::size_t at = 0, end; at < err.size(); at = end) {
        end = std::min(err.find('\n', at), err.size() - 1) + 1;
        const std::string line = err.substr(at, end - at);
        if (!line.starts_with("sh: ") && !line.starts_with("/bin/sh: ") && !line.starts_with("rm: "))
            out += line;
    }
    return out;
}

// Every fsync of the binary answers EIO, as a failing disk would (x86-64 system call numbers).
void refuse_fsync()
{
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fsync, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        std::_Exit(125);
}

void check(const run_case& c)
{
    SCOPED_TRACE(c.label);
    sandbox box;
    if (c.etc)
        box.make_etc();
    if (c.users)
        write_file(box.users(), *c.users);
    if (c.backup)
        write_file(box.backup(), *c.backup);
    if (c.prepare)
        c.prepare(box);
    std::set<std::string> before;
    tree(box.root(), [&](const std::string& content) {
        for (const std::string& line : lines_of(content))
            before.insert(line);
        return "";
    });
    std::string statuses, err;
    for (const std::string& input : c.inputs) {
        run_result r = box.run(input, c.env, "vtpasswd", c.setup);
        EXPECT_EQ(r.out, "vtpasswd> ");
        statuses += (statuses.empty() ? "" : " ") + std::to_string(r.status);
        err += ours(timeless(r.err));
    }
    EXPECT_EQ(statuses, c.statuses);
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(listing(box, before), c.after);
}

using Vtpasswd = sandbox_test;

std::string changed(const std::string& user) { return "Password changed for user " + user + ".\n"; }
std::string bad_old(const std::string& pw, const std::string& user)
{
    return "Bad old passwd " + pw + " for " + user + ". Please try again.\n";
}
std::string with_count(std::string record, const char* count) { return record.replace(21, 3, count); }
std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

const std::string salt = "a0b1c2d3e4f5a6b7c8d9e0f1a2b3c4d5";

} // namespace

TEST_F(Vtpasswd, FirstRunCreatesOneRecordWhoseDigestsAnIndependentToolConfirms)
{
    check({"first", {}, {}, {}, {"admin s3cret\n"}, "0", changed("admin"), "700 700: backup 600; users 600 admin*"});
    ASSERT_EQ(box.run("admin s3cret\n").status, 0);
    const std::string content = read_file(box.users());
    ASSERT_EQ(content.size(), 157u);
    EXPECT_EQ(content.substr(0, 25), "admin                200 ");
    EXPECT_EQ(std::string() + content[57] + content[90] + content[123] + content[156], "   \n");
    const std::string salt_field = content.substr(25, 32), hidesalt = content.substr(91, 32);
    EXPECT_NE(salt_field, hidesalt);
    EXPECT_EQ(content.substr(58, 32), openssl_iterated_md5("s3cret", salt_field, 200));
    EXPECT_EQ(content.substr(124, 32), openssl_iterated_md5("s3cret", hidesalt, 1));
}

TEST_F(Vtpasswd, RecordsAreChangedInPlaceKeptOrAppendedAndEveryFailureLosesNothing)
{
    const std::string bob = record_with_password("bob", "old", 7, "00112233445566778899aabbccddeeff");
    const std::string right = record_with_password("dup", "pw", 2, salt), other = record_with_password("dup", "x", 2, salt);
    const std::string md5 = openssl_iterated_md5("pw", salt, 3);
    std::string odd = filler_record("odd", 1);
    for (int sep : {20, 24, 57, 90, 123})
        odd[sep] = '|';
    std::string hex(32, '0');
    hex[0] = 'z', hex[5] = 'G';
    const std::string ab = filler_record("alice", 1) + filler_record("bob", 2);
    const std::string bad_read = "Encountered an error while reading the password file " + users_path + check_dir;
    const run_case cases[] = {
        {"right old password", filler_record("first", 1) + bob + filler_record("last", 2), {}, {},
         {"bob new old\n", "bob other old\n", "bob other new\n"}, "0 1 0", changed("bob") + bad_old("old", "bob") + changed("bob"),
         "700 700: backup 600 first bob* last; users 600 first bob* last"},
        {"wrong old password", ab, {}, {}, {"bob new guess\n", "bob new\n"}, "1 1", bad_old("guess", "bob") + bad_old("", "bob"),
         "700 700: backup 600 alice bob; users 600 alice bob"},
        // Names are compared whole and case-sensitively; any old password does for a new user.
        {"unknown users", ab, {}, {}, {"Bob pw any\n", "bo pw\n", "bobby pw\n"}, "0 0 0", changed("Bob") + changed("bo") + changed("bobby"),
         "700 700: backup 600 alice bob Bob* bo*; users 600 alice bob Bob* bo* bobby*"},
        {"duplicates, the last one wrong", right + other, {}, {}, {"dup new pw\n"}, "1", changed("dup") + bad_old("pw", "dup"),
         "700 700: backup 600 dup dup; users 600 dup* dup"},
        {"duplicates, the last one right", other + right, {}, {}, {"dup new pw\n"}, "0", bad_old("pw", "dup") + changed("dup"),
         "700 700: backup 600 dup dup; users 600 dup dup*"},
        // A name beyond its field is stored cut and finds its record again, old password checked.
        {"names beyond twenty", {}, {}, {},
         {"abcdefghijklmnopqrstuvwxyz p1\n", "abcdefghijklmnopqrstuvwxyz p2 p1\n", "abcdefghijklmnopqrstuvwxyz p3 p1\n"},
         "0 0 1",
         changed("abcdefghijklmnopqrstuvwxyz") + changed("abcdefghijklmnopqrstuvwxyz") + bad_old("p1", "abcdefghijklmnopqrstuvwxyz"),
         "700 700: backup 600 abcdefghijklmnopqrst*; users 600 abcdefghijklmnopqrst*"},
        // An upper-case salt decodes to the same bytes; an upper-case digest never matches.
        {"digit case", record("up", 3, upper(salt), md5, salt, salt) + record("down", 3, salt, upper(md5), salt, salt), {}, {},
         {"up x pw\n", "down x pw\n"}, "0 1", changed("up") + bad_old("pw", "down"), "700 700: backup 600 up* down; users 600 up* down"},
        {"salt not hex", record("u", 200, hex, hex, hex, hex), {}, {}, {"u new old\n"}, "1",
         "ERR (T):: hexcode was called with bad char z\nERR (T):: hexcode was called with bad char g\n" + bad_old("old", "u"),
         "700 700: backup 600 u; users 600 u"},
        {"short last line", ab + filler_record("bob", 2).substr(0, 156), {}, {}, {"bob new\n"}, "1", bad_old("", "bob") + bad_read,
         "700 700: backup 600 alice bob ~156; users 600 alice bob ~156"},
        {"count with a blank", filler_record("a", 0) + with_count(filler_record("x", 1), " 42"), {}, {}, {"a new\n"}, "1",
         bad_old("", "a") + unopened, "700 700: backup 600 a x; users 600 a x"},
        {"count with letters", filler_record("a", 0) + with_count(filler_record("x", 1), "abc"), {}, {}, {"a new\n"}, "1",
         bad_old("", "a") + unopened, "700 700: backup 600 a x; users 600 a x"},
        {"count of two signs", filler_record("a", 0) + with_count(filler_record("x", 1), "--1"), {}, {}, {"a new\n"}, "1",
         bad_old("", "a") + unopened, "700 700: backup 600 a x; users 600 a x"},
        // "-05" would be written back as the four characters "00-5" and shift every later record.
        {"negative count", with_count(filler_record("neg", 1), "-05") + filler_record("b", 2), {}, {}, {"b new\n"}, "1", unopened, "700 700: backup 600 neg b; users 600 neg b"},
        {"odd separators and -00 rewritten", with_count(odd, "-00"), {}, {}, {"new pw\n"}, "0", changed("new"),
         "700 700: backup 600 odd; users 600 odd* new*"},
        {"dangling backup link", filler_record("a", 1), {}, [](const sandbox& b) { fs::create_symlink("/nonexistent/x", b.backup()); },
         {"a new\n"}, "1", bad_old("", "a"), "700 700: backup 600 a; users 600 a"},
        {"unfinished copies of a killed run", filler_record("a", 1), {}, [](const sandbox& b) {
             write_file(b.users() + ".new", "garbage");
             write_file(b.backup() + ".new", "garbage");
         }, {"z p\n"}, "0", changed("z"), "700 700: backup 600 a; users 600 a z*"},
        // The backup is the only copy of every user then: kept aside under the first free number.
        {"backup without a user file", {}, ab, {}, {"c pw\n"}, "0", changed("c"),
         "700 700: backup 600; backup.1 600 alice bob; users 600 c*"},
        {"orphaned backup beside a kept one", {}, filler_record("c", 3), [&](const sandbox& b) { write_file(b.backup() + ".1", ab); },
         {"d pw\n"}, "0", changed("d"), "700 700: backup 600; backup.1 600 alice bob; backup.2 600 c; users 600 d*"},
        {"empty orphaned backup", {}, "", {}, {"d pw\n"}, "0", changed("d"), "700 700: backup 600; users 600 d*"},
        // A sync the disk refuses is a failure: the new record was composed, but nothing changed.
        {"sync refused", ab, {}, {}, {"c pw\n"}, "1", changed("c") + unopened, "700 700: backup 600 alice bob; users 600 alice bob",
         {}, refuse_fsync},
    };
    for (const run_case& c : cases)
        check(c);
}

TEST_F(Vtpasswd, AUserFileThatIsNoRegularFileIsRefusedUntouchedWithoutWaiting)
{
    // A FIFO nobody writes would hold the run, and the directory lock with it, for ever.
    const auto stands = [](std::function<int(const std::string&)> make) {
        return [=](const sandbox& b) { ASSERT_EQ(make(b.users()), 0); };
    };
    std::vector<run_case> cases = {
        {"FIFO", {}, "", stands([](const std::string& p) { return ::mkfifo(p.c_str(), 0600); })},
        {"directory", {}, "", stands([](const std::string& p) { return ::mkdir(p.c_str(), 0700); })},
        {"link to a FIFO", {}, "", stands([](const std::string& p) {
             return ::mkfifo((p + ".fifo").c_str(), 0600) | ::symlink((p + ".fifo").c_str(), p.c_str());
         })},
    };
    if (::geteuid() == 0)
        cases.push_back({"device", {}, "", stands([](const std::string& p) { return ::mknod(p.c_str(), S_IFCHR | 0600, ::makedev(1, 3)); })});
    const char* after[] = {"users fifo 600", "users dir", "users link; users.fifo fifo 600", "users device 600"};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        cases[i].backup = filler_record("kept", 1);
        cases[i].inputs = {"u p\n"};
        cases[i].statuses = "1";
        cases[i].err = unopened;
        cases[i].after = std::string("700 700: backup 600 kept; ") + after[i];
        cases[i].setup = [] { ::alarm(20); };
        check(cases[i]);
    }
}

TEST_F(Vtpasswd, RequestsAndIdentitiesDecideWhatIsCreated)
{
    const std::string usage = "Usage: vtpasswd user passwd [oldpasswd]\n";
    const std::string made = "700 700: backup 600; users 600 u*";
    const environment unset{{"OS_TYPE", std::nullopt}, {"OS", std::nullopt}};
    const auto os_type = [](const char* os) { return environment{{"OS_TYPE", os}}; };
    const std::string permissions = "ERR (T):: set_permissions called in Unix!ERR (T):: set_permissions called in Unix!";
    const run_case cases[] = {
        {.label = "too few fields", .inputs = {"\n", "alice\n", "alice", "alice\r\n", "a\tb\n"}, .statuses = "1 1 1 1 1",
         .err = usage + usage + usage + usage + usage, .after = "no etc", .etc = false},
        // "bob " sets an empty password; "carol  x" an empty one with the old "x"; " pw" is the
        // empty user; a carriage return stays part of the last field.
        {.label = "fields split at every single space",
         .inputs = {"bob \n", "carol  x y z\n", " pw\n", "dave pw\r\n", "dave new pw\n", "dave new pw\r\n", "bob z\n", "carol q \n"},
         .statuses = "0 0 0 0 1 0 0 0",
         .err = changed("bob") + changed("carol") + changed("") + changed("dave") + bad_old("pw", "dave") + changed("dave")
                + changed("bob") + changed("carol"),
         .after = "700 700: backup 600 bob* carol* * dave*; users 600 bob* carol* * dave*"},
        {.label = "FreeBSD", .inputs = {"u p\n"}, .statuses = "0", .err = changed("u"), .after = made, .env = os_type("FreeBSD"), .etc = false},
        {.label = "Linux", .inputs = {"u p\n"}, .statuses = "0", .err = changed("u"), .after = made, .env = os_type("Linux"), .etc = false},
        {.label = "Solaris", .inputs = {"u p\n"}, .statuses = "0", .err = changed("u"), .after = made, .env = os_type("Solaris"), .etc = false},
        {.label = "no identity", .inputs = {"u p\n"}, .statuses = "0", .err = changed("u"), .after = made, .env = unset, .etc = false},
        {.label = "OS when OS_TYPE is unset", .inputs = {"u p\n"}, .statuses = "0", .err = changed("u"), .after = made,
         .env = {{"OS_TYPE", std::nullopt}, {"OS", "Linux"}}, .etc = false},
        {.label = "existing directory keeps its mode", .prepare = [](const sandbox& b) { ::chmod(b.etc_dir().c_str(), 0755); },
         .inputs = {"u p\n"}, .statuses = "0", .err = changed("u"), .after = "700 755: backup 600; users 600 u*", .env = os_type("Linux")},
        // OS_TYPE set, even empty, wins over OS; other names behave as Unix without creation.
        {.label = "other identities", .inputs = {"u p\n"}, .statuses = "1", .err = unopened, .after = "no etc", .env = os_type("Plan9"), .etc = false},
        {.label = "empty OS_TYPE", .inputs = {"u p\n"}, .statuses = "1", .err = unopened, .after = "no etc",
         .env = {{"OS_TYPE", ""}, {"OS", "Linux"}}, .etc = false},
        {.label = "other identity, directory there", .inputs = {"u p\n"}, .statuses = "0", .err = changed("u"), .after = made,
         .env = os_type("linux")},
        {.label = "uncreatable directory", .prepare = [](const sandbox& b) { write_file(b.root() + "/etc", "not a directory"); },
         .inputs = {"u p\n"}, .statuses = "2",
         .err = "Fatal error: uncaught exception Unix.Unix_error(Unix.ENOTDIR, \"mkdir\", \"" VT_ETC_DIR "\")\n",
         .after = "no etc", .env = os_type("FreeBSD"), .etc = false},
        // Windows reports both opens and deletes the backup with a "del" this host lacks: the
        // backup is still replaced by the previous content.
        {.label = "Windows", .inputs = {"u p\n", "v p\n"}, .statuses = "0 0",
         .err = permissions + changed("u") + permissions + changed("v"), .after = "700 700: backup 600 u*; users 600 u* v*",
         .env = {{"OS_TYPE", std::nullopt}, {"OS", "Windows_NT"}}},
    };
    for (const run_case& c : cases)
        check(c);
    EXPECT_EQ(box.run("\n", {}, "/opt/bin/vtpasswd").err, "Usage: /opt/bin/vtpasswd user passwd [oldpasswd]\n");
}

// Standard input that never ends a line, under a memory limit: the line cannot be held.
void endless_line_in_little_memory()
{
    ::alarm(60); // a run that reads on for ever ends, the test goes on
    cutil::unique_fd zero(::open("/dev/zero", O_RDONLY));
    if (!zero || ::dup2(zero.get(), 0) != 0)
        std::_Exit(125);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer reserves far more address space than any limit would allow; its allocator
    // is told to fail large requests instead.
    const char* given = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(given ? given : "") + ":allocator_may_return_null=1:max_allocation_size_mb=64";
    ::setenv("ASAN_OPTIONS", options.c_str(), 1);
#else
    const rlimit little{256 << 20, 256 << 20};
    if (::setrlimit(RLIMIT_AS, &little) != 0)
        std::_Exit(125);
#endif
}

TEST_F(Vtpasswd, ALineThatCannotBeReadIsAnUncaughtFailureNamingWhy)
{
    for (const auto& [setup, name] : {std::pair<child_setup, std::string>{{}, "End_of_file"},
                                      {endless_line_in_little_memory, "Out_of_memory"}}) {
        run_result r = box.run("", {}, "vtpasswd", setup);
        EXPECT_EQ(r.status, 2) << name;
        // The sanitizer may have said beforehand that it refused the memory.
        const std::string fatal = "Fatal error: uncaught exception " + name + "\n";
        EXPECT_TRUE(r.err.ends_with(fatal) && r.err.find("Fatal") == r.err.size() - fatal.size()) << r.err;
    }
}
