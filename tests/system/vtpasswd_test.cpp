// The real binary, and the locations file, in a sandbox standing in for the host's directories.
// Records are laid out by hand and digests made by openssl, not by the code under test.
#include "command/vtlocations.hpp"
#include "support/console.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

using namespace vttest;
namespace fs = std::filesystem;

namespace {

const std::string etc = VT_ETC_DIR, etc_parent = fs::path(etc).parent_path(), stand_in = fs::path(etc_parent).parent_path();
const std::string check_dir = ". Please check that the directory exists with the appropriate permissions set.\n";
const std::string unopened = "Could not open password file " + etc + "/vanto_users.dat" + check_dir;
const std::string no_etc = "rmdir $E $P"; // the binary makes both again

std::string record(const std::string& user, int number, const std::string& salt,
                   const std::string& md5, const std::string& hidesalt, const std::string& secret)
{
    char head[32];
    std::snprintf(head, sizeof head, "%-20.20s %03d ", user.c_str(), number);
    return head + salt + " " + md5 + " " + hidesalt + " " + secret + "\n";
}
const std::string f32(32, 'f');
std::string filler(const std::string& user) { return record(user, 200, f32, f32, f32, f32); }
std::string users_file_of(int count)
{
    std::string content;
    for (int i = 0; i < count; ++i)
        content += filler("user" + std::to_string(i));
    return content;
}

// number + 1 rounds of `openssl dgst -md5 -binary` over passwd then the raw salt, as hex.
std::string openssl_iterated_md5(const std::string& passwd, const std::string& salt_hex, int number)
{
    std::string bytes = passwd;
    for (std::size_t i = 0; i + 1 < salt_hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(salt_hex.substr(i, 2), nullptr, 16));
    return run_shell("f=$(mktemp); cat > $f; for i in $(seq 0 " + std::to_string(number) + ");"
                     " do openssl dgst -md5 -binary < $f > $f.w; mv $f.w $f; done;"
                     " od -An -tx1 $f | tr -d ' \\n'; rm $f", bytes).out;
}

// The etc files, the backup as B and the user file as U: records as names ("*" if not in `old`),
// a short tail as "~" and its length, modes other than 700 and 600.
std::string listing(const sandbox& box, const std::string& old = "")
{
    const std::string dir = box.etc_dir();
    if (!fs::is_directory(dir))
        return "no etc";
    std::string out = tree(dir, [&](const std::string& content) {
        std::string names;
        for (std::size_t at = 0; at < content.size(); at += 157) {
            const std::string line = content.substr(at, 157), name = line.substr(0, line.find(' '));
            names += (at ? " " : "") + (line.size() < 157 ? "~" + std::to_string(line.size())
                                                          : name + (old.find(line) == old.npos ? "*" : ""));
        }
        return names;
    });
    char modes[16];
    std::snprintf(modes, sizeof modes, "%o %o: ", file_mode(dir + "/.."), file_mode(dir));
    out = (modes == std::string("700 700: ") ? "" : modes) + out;
    for (const auto& [from, to] : {std::pair{"old_vanto_users\\.dat", "B"},
                                   {"vanto_users\\.dat", "U"}, {" 600\\b", ""}})
        out = std::regex_replace(out, std::regex(from), to);
    return out;
}

// A shell command, with $E the etc directory, $P its parent, $U the user file, $B its backup.
void shell_in(const sandbox& box, const std::string& command)
{
    if (command.empty())
        return;
    const std::string vars = "E=" + box.etc_dir() + " P=$(dirname $E) U=$E/vanto_users.dat B=$E/old_vanto_users.dat;";
    EXPECT_EQ(run_shell(vars + " umask 077; " + command + " && echo done").out, "done\n") << command;
}

struct run_case {
    std::optional<std::string> users; // written before the runs
    std::vector<std::string> inputs;  // standard input of each run
    std::string statuses, err, after; // their statuses, standard error, listing() after them
    std::string prepare = {};         // shell_in() before the runs
    environment env = {};
    child_setup setup = {};
};

void check(const run_case& c)
{
    SCOPED_TRACE("the row of " + c.prepare + " < " + c.inputs.front());
    sandbox box;
    box.make_etc();
    if (c.users)
        write_file(box.users(), *c.users);
    // Without the lines of the host's shell, rm and sanitizer, in their own words.
    static const std::regex theirs("^((/bin/)?sh: |rm: |==\\d+==).*\n?", std::regex::multiline);
    shell_in(box, c.prepare);
    std::string statuses, err;
    for (const std::string& input : c.inputs) {
        child_run r = box.run(input, c.env, "vtpasswd", [&] {
            ::alarm(60); // a run that would wait for ever, on a FIFO say, ends
            if (c.setup)
                c.setup();
        });
        EXPECT_EQ(r.out, "vtpasswd> ");
        statuses += (statuses.empty() ? "" : " ") + std::to_string(r.status);
        err += std::regex_replace(timeless(r.err), theirs, "");
    }
    EXPECT_EQ(statuses, c.statuses);
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(listing(box, c.users.value_or("")), c.after);
}

// Steps of a seccomp filter: load a system call's number or argument, jump on it, answer.
sock_filter load(unsigned at) { return BPF_STMT(BPF_LD | BPF_W | BPF_ABS, at); }
unsigned arg(unsigned i) { return offsetof(seccomp_data, args) + 8 * i; }
const unsigned nr = offsetof(seccomp_data, nr);
sock_filter if_set(unsigned bits, uint8_t y, uint8_t n) { return BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, bits, y, n); }
sock_filter if_is(unsigned v, uint8_t y, uint8_t n = 0) { return BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, v, y, n); }
const sock_filter allow = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
sock_filter fail(int err) { return BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | err); }

// Every fsync of the binary answers EIO, as a failing disk would (x86-64 system call numbers).
void refuse_fsync() { install_filter({load(nr), if_is(SYS_fsync, 0, 1), fail(EIO), allow}); }

// Every step that could follow a swapped name is refused (x86-64 system call numbers): by-name
// link, rename, unlink and mkdir; an openat that creates without O_EXCL or O_NOFOLLOW, or names a
// file within a directory descriptor without O_NOFOLLOW; a linkat that follows. (The C library
// opens through openat; the sanitizers' own open stays allowed.)
void follow_nothing()
{
    install_filter({load(nr), if_is(SYS_openat, 6), if_is(SYS_linkat, 12), if_is(SYS_link, 14),
                    if_is(SYS_rename, 13), if_is(SYS_unlink, 12), if_is(SYS_mkdir, 11), allow,
                    load(arg(2)), if_set(O_CREAT, 0, 1), if_set(O_NOFOLLOW | O_EXCL, 0, 7),
                    load(arg(0)), if_is(static_cast<unsigned>(AT_FDCWD), 4),
                    load(arg(2)), if_set(O_NOFOLLOW, 2, 3),
                    load(arg(4)), if_set(AT_SYMLINK_FOLLOW, 1, 0), allow, fail(EACCES)});
}

// A line that never ends, in little memory (the sanitizer's allocator is told to fail instead).
void endless_line_in_little_memory()
{
    const char* given = std::getenv("ASAN_OPTIONS");
    ::setenv("ASAN_OPTIONS", (std::string(given ? given : "") + ":allocator_may_return_null=1:max_allocation_size_mb=64").c_str(), 1);
    cutil::unique_fd zero(::open("/dev/zero", O_RDONLY));
#if !defined(__SANITIZE_ADDRESS__)
    const rlimit little{256 << 20, 256 << 20};
    if (::setrlimit(RLIMIT_AS, &little) != 0)
        std::_Exit(125);
#endif
    if (!zero || ::dup2(zero.get(), 0) != 0)
        std::_Exit(125);
}

std::string changed(const std::string& user) { return "Password changed for user " + user + ".\n"; }
std::string kept_aside(int n)
{
    return "Password file " + etc + "/vanto_users.dat missing: the users of its backup are kept in "
           + etc + "/old_vanto_users.dat." + std::to_string(n) + ".\n";
}
std::string unsafe(const std::string& why) { return "Unsafe etc directory " + etc + ": " + why + ".\n"; }
std::string writable(const std::string& dir, const std::string& by, const char* bits)
{
    return unsafe(dir + " is writable by " + by + ". Please take that away (chmod " + bits + " " + dir + ")");
}
std::string bad_old(const std::string& pw, const std::string& u) { return "Bad old passwd " + pw + " for " + u + ". Please try again.\n"; }
std::string with_count(std::string record, const char* count) { return record.replace(21, 3, count); }
std::string upper(const std::string& hex) { return run_shell("printf %s " + hex + " | tr a-f A-F").out; }

environment as(std::optional<std::string> type, std::optional<std::string> os = {}) { return {{"OS_TYPE", type}, {"OS", os}}; }

// nobody owns the etc directory, root the user file: nobody may rename it, not link it.
const std::string refuse_link = "chmod 711 $P/.. $P && chown nobody:nogroup $E && chown 0:0 $U && chmod 644 $U";

using Vtpasswd = sandbox_test;
using Safety = sandbox_test;
using LocationsFile = sandbox_test;

} // namespace

TEST_F(Vtpasswd, RecordsChangedKeptOrAppendedAndFailuresLoseNothing)
{
    const std::string salt = "a0b1c2d3e4f5a6b7c8d9e0f1a2b3c4d5", md5 = openssl_iterated_md5("pw", salt, 3);
    const auto with_password = [&](const char* user, const char* pw, int n) {
        return record(user, n, salt, openssl_iterated_md5(pw, salt, n), salt, salt);
    };
    const std::string bob = with_password("bob", "old", 7), dup = with_password("dup", "pw", 2);
    const std::string dup_x = with_password("dup", "x", 2), hex = "z0000G" + std::string(26, '0');
    const std::string ab = filler("alice") + filler("bob"), a = filler("a"), kept = filler("kept");
    const std::string long_name = "abcdefghijklmnopqrstuvwxyz", cut = "abcdefghijklmnopqrst*";
    const std::vector<std::string> b = {"b p\n"}, u = {"u p\n"};
    const std::string unreadable = "Encountered an error while reading the password file " + etc + "/vanto_users.dat" + check_dir;
    const std::string unhex = "ERR (T):: hexcode was called with bad char ";
    const run_case cases[] = {
        {filler("first") + bob + filler("last"), {"bob new old\n", "bob x old\n", "bob x new\n"},
         "0 1 0", changed("bob") + bad_old("old", "bob") + changed("bob"), "B first bob* last; U first bob* last"},
        {ab, {"Bob pw any\n", "bo pw\n", "bobby pw\n"}, "0 0 0",
         changed("Bob") + changed("bo") + changed("bobby"), "B alice bob Bob* bo*; U alice bob Bob* bo* bobby*"},
        {dup + dup_x, {"dup new pw\n"}, "1", changed("dup") + bad_old("pw", "dup"), "B dup dup; U dup* dup"},
        {dup_x + dup, {"dup new pw\n"}, "0", bad_old("pw", "dup") + changed("dup"), "B dup dup; U dup dup*"},
        {{}, {long_name + " p1\n", long_name + " p2 p1\n", long_name + " p3 p1\n"},
         "0 0 1", changed(long_name) + changed(long_name) + bad_old("p1", long_name), "B " + cut + "; U " + cut},
        // An upper-case salt decodes to the same bytes; an upper-case digest never matches.
        {record("up", 3, upper(salt), md5, salt, salt) + record("down", 3, salt, upper(md5), salt, salt),
         {"up x pw\n", "down x pw\n"}, "0 1", changed("up") + bad_old("pw", "down"), "B up* down; U up* down"},
        {record("u", 200, hex, hex, hex, hex), {"u new old\n"}, "1", unhex + "z\n" + unhex + "g\n" + bad_old("old", "u"), "B u; U u"},
        {ab + filler("bob").substr(0, 156), {"bob new\n"}, "1", bad_old("", "bob") + unreadable, "B alice bob ~156; U alice bob ~156"},
        {a + with_count(filler("x"), "abc"), {"a new\n"}, "1", bad_old("", "a") + unopened, "B a x; U a x"},
        {with_count(filler("neg"), "-05") + filler("b"), {"b new\n"}, "1", unopened, "B neg b; U neg b"},
        {a, {"a new\n"}, "1", bad_old("", "a"), "B a; U a", "ln -s /nonexistent/x $B"},
        {a, {"z p\n"}, "0", changed("z"), "B a; U a z*", "echo x > $U.new && echo x > $B.new"},
        {ab, {"c pw\n"}, "0", kept_aside(1) + changed("c"), "B; B.1 alice bob; U c*", "mv $U $B"},
        {filler("c"), {"d pw\n"}, "0", kept_aside(2) + changed("d"), "B; B.1 ~5; B.2 c; U d*", "mv $U $B && echo kept > $B.1"},
        {{}, {"d pw\n"}, "0", changed("d"), "B; U d*", ": > $B"},
        {ab, {"c pw\n"}, "1", unopened, "B alice bob; U alice bob", "", {}, refuse_fsync},
        {kept, u, "1", unopened, "B kept; U fifo", "mv $U $B && mkfifo $U"},
        {kept, u, "1", unopened, "B kept; U device", "mv $U $B && mknod -m 600 $U c 1 3"},
        {kept, u, "1", unopened, "t kept; U link", "mv $U $E/t && ln -s t $U"},
        {a, b, "0", changed("b"), "B a; t ~5; U a b*", "echo kept > $E/t && ln -s t $B", {}, follow_nothing},
        {a, b, "1", unsafe(etc + " is owned by uid 65534. Please give it to root (chown root " + etc + ")"), "U a", "chown nobody $E"},
        {a, b, "1", unsafe(etc + " is a symbolic link. Please put the directory itself in its place"),
         "U a", "mv $E $P/real && ln -s real $E"},
        {a, b, "1", writable(etc, "its group", "g-w"), "700 770: U a", "chmod 770 $E"},
        {a, b, "1", writable(etc_parent, "others", "o-w"), "707 700: U a", "chmod 707 $P"},
        {a, b, "0", changed("b"), "1777 700: B a; U a b*", "chmod 1777 $P"},
        {a, b, "1", writable(etc, "its group and others", "go-w"), "700 1777: U a", "chmod 1777 $E"},
        {a, b, "1", writable(stand_in, "its group", "g-w"), "U a", "chmod 2775 $P/.."},
        {a, b, "1", "The etc directory " + etc + " has been locked by another process for 5"
         " seconds. Please try again once it has finished.\n", "U a",
         "(flock $E sleep 9 >/dev/null 2>&1 &) && until ! flock -n $E true; do :; done"},
    };
    for (const run_case& c : cases)
        check(c);
}

TEST_F(Vtpasswd, NewRecordDigests)
{
    ASSERT_EQ(box.run("admin s3cret\n").status, 0);
    const std::string content = read_file(box.users());
    const std::string salt = content.substr(25, 32), hidesalt = content.substr(91, 32);
    EXPECT_NE(salt, hidesalt);
    EXPECT_EQ(content, record("admin", 200, salt, openssl_iterated_md5("s3cret", salt, 200), hidesalt,
                              openssl_iterated_md5("s3cret", hidesalt, 1)));
}

TEST_F(Vtpasswd, RequestsAndIdentities)
{
    const std::string usage = "Usage: vtpasswd user passwd [oldpasswd]\n", made = "B; U u*";
    const std::string fatal = "Fatal error: uncaught exception ", nt = "ERR (T):: set_permissions called in Unix!";
    const std::vector<std::string> u = {"u p\n"};
    // Fields are split at single spaces, empty ones too; a carriage return stays in the last.
    // OS_TYPE, else OS, names the identity; only three Unixes make the etc directory.
    const run_case cases[] = {
        {{}, {"\n", "alice\n", "alice", "alice\r\n", "a\tb\n"}, "1 1 1 1 1", usage + usage + usage + usage + usage, "no etc", no_etc},
        {{}, {"bob \n", "carol  x y z\n", " pw\n", "dave pw\r\n", "dave new pw\n", "dave new pw\r\n", "bob z\n", "carol q \n"},
         "0 0 0 0 1 0 0 0", changed("bob") + changed("carol") + changed("") + changed("dave") + bad_old("pw", "dave")
             + changed("dave") + changed("bob") + changed("carol"), "B bob* carol* * dave*; U bob* carol* * dave*"},
        {{}, {""}, "2", fatal + "End_of_file\n", "no etc", no_etc},
        {{}, {""}, "2", fatal + "Out_of_memory\n", "no etc", no_etc, {}, endless_line_in_little_memory},
        {{}, u, "0", changed("u"), made, no_etc, as("Solaris")},
        {{}, u, "0", changed("u"), made, no_etc, as({})},
        {{}, u, "0", changed("u"), made, no_etc, as({}, "Linux")},
        {{}, u, "0", changed("u"), "700 755: " + made, "chmod 755 $E", as("Linux")},
        {{}, u, "1", unopened, "no etc", no_etc, as("Plan9")},
        {{}, u, "1", unopened, "no etc", no_etc, as("", "Linux")},
        {{}, u, "0", changed("u"), made, "", as("linux")},
        {{}, u, "2", fatal + "Unix.Unix_error(Unix.ENOTDIR, \"mkdir\", \"" + etc + "\")\n",
         "no etc", no_etc + " && echo x > $P", as({})},
        {{}, {"u p\n", "v p\n"}, "0 0", nt + nt + changed("u") + nt + nt + changed("v"), "B u*; U u* v*", "", as({}, "Windows_NT")},
    };
    for (const run_case& c : cases)
        check(c);
    EXPECT_EQ(box.run("\n", {}, "/opt/bin/vtpasswd").err, "Usage: /opt/bin/vtpasswd user passwd [oldpasswd]\n");
}

// A terminal shows only the request line's end, and has its echo back however the run ends.
TEST_F(Vtpasswd, TerminalEcho)
{
    for (const bool killed : {false, true}) {
        const cutil::unique_fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK));
        ASSERT_TRUE(master && ::grantpt(master.get()) == 0 && ::unlockpt(master.get()) == 0);
        const cutil::unique_fd slave(::open(::ptsname(master.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
        const auto echoes = [&] { termios t{}; return ::tcgetattr(slave.get(), &t) == 0 && (t.c_lflag & ECHO) != 0; };
        const pid_t pid = box.start("", [&] { ::dup2(slave.get(), 0); });
        for (int wait = 0; wait < 10000 && echoes(); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_FALSE(echoes()) << "the run never turned the echo off";
        killed ? ::kill(pid, SIGTERM) : (write_all(master.get(), "u secret\n"), 0);
        EXPECT_EQ(wait_status(pid), killed ? 128 + SIGTERM : 0);
        char shown[64];
        const ssize_t n = ::read(master.get(), shown, sizeof shown);
        EXPECT_EQ(std::string(shown, std::max<ssize_t>(n, 0)), killed ? "" : "\r\n");
        EXPECT_TRUE(echoes()) << (killed ? "killed" : "ended");
    }
}

TEST_F(Safety, OverlappingRunsAllLand)
{
    const std::string existing = users_file_of(5000);
    write_file(box.users(), existing);
    std::vector<pid_t> pids;
    for (int i = 0; i < 8; ++i)
        pids.push_back(box.start("added" + std::to_string(i) + " pw\n"));
    for (pid_t pid : pids)
        EXPECT_EQ(wait_status(pid), 0);
    const std::string after = read_file(box.users());
    EXPECT_TRUE(after.size() == 5008 * 157u && after.starts_with(existing)) << "records lost or changed";
}

// `now` is `before` and one record more, of `name`.
bool one_more(const std::string& before, const std::string& now, const std::string& name)
{
    return now.size() == before.size() + 157 && now.starts_with(before + name);
}

// Runs killed at instants spread across a run leave the user file whole; the next starts from it.
void check_killed_runs(const sandbox& box, const child_setup& as, const std::string& before_each)
{
    write_file(box.users(), users_file_of(100000));
    shell_in(box, before_each);
    const auto t0 = std::chrono::steady_clock::now();
    box.run("user5 pw x\n", {}, "vtpasswd", as); // changes nothing; how long a whole run takes
    const auto whole = std::chrono::steady_clock::now() - t0;
    int interrupted = 0;
    for (int round = 0; round < 12; ++round) {
        shell_in(box, before_each);
        const std::string before = read_file(box.users()), name = "killed" + std::to_string(round);
        const pid_t pid = box.start(name + " pw\n", as);
        std::this_thread::sleep_for(whole * round / 12);
        ::kill(pid, SIGKILL);
        wait_status(pid);
        const std::string now = read_file(box.users());
        interrupted += now == before;
        EXPECT_TRUE(now == before || one_more(before, now, name)) << "round " << round;
    }
    EXPECT_GT(interrupted, 0) << "no kill landed inside a run";
    shell_in(box, before_each);
    const std::string last = read_file(box.users());
    EXPECT_EQ(box.run("final pw\n", {}, "vtpasswd", as).status, 0);
    EXPECT_TRUE(one_more(last, read_file(box.users()), "final")) << "not from the whole file";
    EXPECT_TRUE(read_file(box.backup()) == last) << "the backup is not what was there";
    EXPECT_EQ(listing(box).find(".new"), std::string::npos);
}

TEST_F(Safety, KilledRuns)
{
    check_killed_runs(box, {}, "");
}

// The backup is a copy where the link is refused; a file nobody may read is refused.
TEST_F(Safety, RefusedBackupLinkCopies)
{
    if (::geteuid() != 0 || read_file("/proc/sys/fs/protected_hardlinks") != "1\n")
        GTEST_SKIP() << "needs root and a kernel that refuses links to others' files";
    const std::string abc = users_file_of(3);
    const std::string there = "user0 user1 user2", earlier = " && echo earlier > $B";
    check({abc, {"added pw\n"}, "0", changed("added"), "711 700: B " + there + "; U " + there + " added*",
           refuse_link + earlier, {}, [] { become_nobody(); follow_nothing(); }});
    check({abc, {"added pw\n"}, "1", unopened, "711 700: U " + there,
           refuse_link + " && chmod 600 $U" + earlier, {}, become_nobody});
    check_killed_runs(box, become_nobody, refuse_link);
}

TEST_F(LocationsFile, SelectorsAndFailures)
{
    using enum Vtfiles::location_system;
    auto r = box.run_inside([] {
        const auto read_back = [](Vtfiles::location_system which) {
            const Vtfiles::locations l = Vtfiles::read_locations(which);
            return l.main_dir + "|" + l.bin_dir + "|" + l.gui_dir + "\n";
        };
        std::string seen = read_back(LO_UNIX); // no file yet
        Vtfiles::write_locations(LO_NT, "/nt", "/nt/bin", "/nt/gui");
        Vtfiles::write_locations(LO_UNIX, "/opt/product", "/opt/product/bin", "/opt/product/gui");
        Vtfiles::write_locations(LO_UNIX, "/opt/p", "/opt/p/bin", "/opt/p/gui"); // shorter
        seen += read_back(LO_NT) + read_back(LO_UNIX) + read_file(Vtfiles::unix_location);
        // A directory fails the read and the replace; a FIFO may hold no call; a link must not
        // pass the content on: each reads as three empty texts and stays.
        write_file(Vtfiles::etc_dir + "/victim", "root only\n");
        for (const std::string make : {"mkdir", "mkfifo", "ln -s victim", "ln " VT_ETC_DIR "/victim"}) {
            fs::remove(Vtfiles::unix_location);
            run_shell(make + " " + Vtfiles::unix_location);
            ::alarm(10);
            Vtfiles::write_locations(LO_UNIX, "/a", "/b", "/c");
            const bool file = fs::is_regular_file(fs::symlink_status(Vtfiles::unix_location));
            if (read_back(LO_UNIX) != "||\n" || (file && read_file(Vtfiles::unix_location).starts_with("MAIN")))
                seen += make + " replaced\n";
        }
        return seen + read_file(Vtfiles::etc_dir + "/victim");
    });
    EXPECT_EQ(r.answer, "||\n/nt/tessaroul|/nt/bin|/nt/gui\n/opt/p/tessaroul|/opt/p/bin|/opt/p/gui\n"
                        "MAIN /opt/p\nBIN /opt/p/bin\nGUI /opt/p/gui\nroot only\n");
    EXPECT_EQ(r.err, "");
    // The backslash name lies beside the etc directory, not in it.
    EXPECT_EQ(read_file(box.etc_dir() + "/../tessaroul\\locations.dat"), "MAIN /nt\nBIN /nt/bin\nGUI /nt/gui\n");
}
