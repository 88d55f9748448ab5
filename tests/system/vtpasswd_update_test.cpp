// The update of the user file: records added, changed, kept, refused; both files' bytes.
#include "support/records.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <functional>
#include <regex>

using namespace vttest;

namespace {

const std::string bad_file_tail = ". Please check that the directory exists with the appropriate permissions set.\n";

class Update : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = sandbox_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        box.make_etc();
    }
    run_result run(const std::string& line) { return box.run(line + "\n"); }
    std::vector<std::string> lines() { return lines_of(read_file(box.users())); }

    sandbox box;
};

bool is_lower_hex(const std::string& s)
{
    return s.size() == 32 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST_F(Update, FirstRunCreatesOneRecordWhoseDigestsAnIndependentToolConfirms)
{
    run_result r = run("admin s3cret");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "vtpasswd> ");
    EXPECT_EQ(r.err, "Password changed for user admin.\n");
    EXPECT_EQ(read_file(box.backup()), "");
    EXPECT_EQ(file_mode(box.users()), 0600u);
    EXPECT_EQ(file_mode(box.backup()), 0600u);

    const std::string content = read_file(box.users());
    ASSERT_EQ(content.size(), 157u);
    EXPECT_EQ(content.substr(0, 25), "admin                200 ");
    for (int sep : {57, 90, 123})
        EXPECT_EQ(content[sep], ' ');
    EXPECT_EQ(content[156], '\n');
    const std::string salt = field(content, 25, 32), md5 = field(content, 58, 32);
    const std::string hidesalt = field(content, 91, 32), secret = field(content, 124, 32);
    for (const std::string* f : {&salt, &md5, &hidesalt, &secret})
        EXPECT_TRUE(is_lower_hex(*f)) << *f;
    EXPECT_NE(salt, hidesalt);
    EXPECT_EQ(md5, openssl_iterated_md5("s3cret", salt, 200));
    EXPECT_EQ(secret, openssl_iterated_md5("s3cret", hidesalt, 1));
}

TEST_F(Update, RightOldPasswordReplacesTheRecordInPlace)
{
    const std::string salt = "00112233445566778899aabbccddeeff";
    const std::string before = filler_record("first", 1) + record_with_password("bob", "old", 7, salt) +
                               filler_record("last", 2);
    write_file(box.users(), before);
    run_result r = run("bob new old");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Password changed for user bob.\n");
    EXPECT_EQ(read_file(box.backup()), before);

    std::vector<std::string> after = lines();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0], filler_record("first", 1));
    EXPECT_EQ(after[2], filler_record("last", 2));
    EXPECT_EQ(field(after[1], 0, 25), "bob                  200 ");
    EXPECT_EQ(field(after[1], 58, 32), openssl_iterated_md5("new", field(after[1], 25, 32), 200));
    // The new password now works, the old one no longer.
    EXPECT_EQ(run("bob other old").status, 1);
    EXPECT_EQ(run("bob other new").status, 0);
}

TEST_F(Update, WrongOldPasswordKeepsEveryRecordAndUnknownUsersAreAppended)
{
    const std::string before = filler_record("alice", 1) + filler_record("bob", 2);
    write_file(box.users(), before);
    run_result wrong = run("bob new guess");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, "Bad old passwd guess for bob. Please try again.\n");
    EXPECT_EQ(run("bob new").err, "Bad old passwd  for bob. Please try again.\n");
    EXPECT_EQ(read_file(box.users()), before);
    EXPECT_EQ(read_file(box.backup()), before);

    // Names are compared whole and case-sensitively, up to the stored name's first space;
    // any old password is accepted for a user without a record.
    for (const char* other : {"Bob pw anything", "bo pw", "bobby pw"})
        EXPECT_EQ(run(other).status, 0) << other;
    std::vector<std::string> after = lines();
    ASSERT_EQ(after.size(), 5u);
    EXPECT_EQ(after[0] + after[1], before);
    EXPECT_EQ(field(after[4], 0, 21), "bobby                ");
}

TEST_F(Update, EachDuplicateRecordIsCheckedOnItsOwnAndTheLastDecides)
{
    const std::string salt = "0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f";
    const std::string right = record_with_password("dup", "pw", 2, salt);
    const std::string other = record_with_password("dup", "different", 2, salt);
    write_file(box.users(), right + other);
    run_result r = run("dup new pw");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Password changed for user dup.\nBad old passwd pw for dup. Please try again.\n");
    std::vector<std::string> after = lines();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_NE(after[0], right);
    EXPECT_EQ(after[1], other);

    write_file(box.users(), other + right);
    r = run("dup new pw");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Bad old passwd pw for dup. Please try again.\nPassword changed for user dup.\n");
}

TEST_F(Update, NamesLongerThanTwentyAreStoredCutAndFindTheirRecordAgain)
{
    const std::string name = "abcdefghijklmnopqrstuvwxyz";
    EXPECT_EQ(run(name + " p1").status, 0);
    EXPECT_EQ(run(name + " p2 p1").status, 0);
    run_result r = run(name + " p3 p1"); // the old password is checked, not bypassed by a new record
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Bad old passwd p1 for " + name + ". Please try again.\n");
    std::vector<std::string> after = lines();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(field(after[0], 0, 21), "abcdefghijklmnopqrst ");
}

TEST_F(Update, StoredDigitsAreReadWithTheirCase)
{
    const std::string salt = "a0b1c2d3e4f5a6b7c8d9e0f1a2b3c4d5";
    std::string upper_salt = salt;
    for (char& c : upper_salt)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // An upper-case salt decodes to the same bytes; an upper-case digest never matches.
    const std::string md5 = openssl_iterated_md5("pw", salt, 3);
    std::string upper_md5 = md5;
    for (char& c : upper_md5)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    write_file(box.users(), record("up", 3, upper_salt, md5, salt, salt) +
                                record("down", 3, salt, upper_md5, salt, salt));
    EXPECT_EQ(run("up x pw").status, 0);
    EXPECT_EQ(run("down x pw").status, 1);
}

TEST_F(Update, NonHexSaltCharactersAreReportedOnceEach)
{
    std::string salt(32, '0');
    salt[0] = 'z';
    salt[5] = 'G';
    write_file(box.users(), record("u", 200, salt, std::string(32, '0'), salt, salt));
    run_result r = run("u new old");
    EXPECT_EQ(r.status, 1);
    std::regex shape("ERR \\(\\d\\d:\\d\\d:\\d\\d\\):: hexcode was called with bad char z\n"
                     "ERR \\(\\d\\d:\\d\\d:\\d\\d\\):: hexcode was called with bad char g\n"
                     "Bad old passwd old for u\\. Please try again\\.\n");
    EXPECT_TRUE(std::regex_match(r.err, shape)) << r.err;
}

TEST_F(Update, ShortLastLineStopsTheRunAndLeavesTheFileAsItWas)
{
    std::string rec = filler_record("bob", 3);
    const std::string before = filler_record("alice", 1) + rec + rec.substr(0, 156);
    write_file(box.users(), before);
    run_result r = run("bob new");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Bad old passwd  for bob. Please try again.\n"
                     "Encountered an error while reading the password file " VT_ETC_DIR "/vanto_users.dat" +
                         bad_file_tail);
    EXPECT_EQ(read_file(box.users()), before);
    EXPECT_EQ(read_file(box.backup()), before);
    EXPECT_FALSE(file_exists(box.users() + ".new"));
}

TEST_F(Update, CountThatIsNotANumberFailsWithoutLosingAnything)
{
    for (const char* count : {" 42", "4 2", "abc", "--1", "-  "}) {
        std::string bad = filler_record("x", 1);
        bad.replace(21, 3, count);
        const std::string before = filler_record("a", 0) + bad;
        write_file(box.users(), before);
        run_result r = run("a new");
        EXPECT_EQ(r.status, 1) << count;
        EXPECT_EQ(r.err, "Bad old passwd  for a. Please try again.\nCould not open password file " VT_ETC_DIR
                         "/vanto_users.dat" + bad_file_tail);
        EXPECT_EQ(read_file(box.users()), before);
    }
}

TEST_F(Update, OtherRecordsAreRewrittenFromTheirFieldsAndNegativeCountsRefused)
{
    std::string odd = filler_record("odd", 1);
    for (int sep : {20, 24, 57, 90, 123})
        odd[sep] = '|';
    odd.replace(21, 3, "-00");
    write_file(box.users(), odd);
    ASSERT_EQ(run("new pw").status, 0);
    EXPECT_EQ(lines()[0], filler_record("odd", 1).replace(21, 3, "000"));

    // "-05" would be written back as the four characters "00-5" and shift every later record.
    const std::string before = filler_record("neg", 1).replace(21, 3, "-05") + filler_record("b", 2);
    write_file(box.users(), before);
    EXPECT_EQ(run("b new").status, 1);
    EXPECT_EQ(read_file(box.users()), before);
}

TEST_F(Update, DanglingBackupLinkIsReplaced)
{
    write_file(box.users(), filler_record("a", 1));
    ASSERT_EQ(::symlink("/nonexistent/target", box.backup().c_str()), 0);
    EXPECT_EQ(run("a new").status, 1);
    EXPECT_EQ(read_file(box.backup()), filler_record("a", 1));
}

TEST_F(Update, UnreadableBackupPathIsReportedAsTheBackupFailure)
{
    write_file(box.users(), filler_record("a", 1));
    // A directory where the backup belongs cannot be deleted by rm nor replaced.
    ::mkdir(box.backup().c_str(), 0700);
    ::mkdir((box.backup() + "/keep").c_str(), 0700);
    run_result r = run("a new");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.find("Unable")),
              "Unable to read old information from " VT_ETC_DIR "/vanto_users.dat. Please make sure the file "
              "is not locked by another application.\n");
    EXPECT_EQ(read_file(box.users()), filler_record("a", 1));
}

TEST_F(Update, UserFileThatIsNotARegularFileIsRefusedUntouchedWithoutWaiting)
{
    const std::string earlier = filler_record("kept", 1);
    // A FIFO nobody writes would hold the run, and the directory lock with it, for ever.
    const std::pair<const char*, std::function<int()>> kinds[] = {
        {"fifo", [&] { return ::mkfifo(box.users().c_str(), 0600); }},
        {"directory", [&] { return ::mkdir(box.users().c_str(), 0700); }},
        {"device", [&] { return ::mknod(box.users().c_str(), S_IFCHR | 0600, ::makedev(1, 3)); }},
        {"link to a fifo", [&] { return ::mkfifo((box.users() + ".fifo").c_str(), 0600) |
                                        ::symlink((box.users() + ".fifo").c_str(), box.users().c_str()); }},
    };
    for (const auto& [kind, make] : kinds) {
        if (std::string(kind) == "device" && ::geteuid() != 0)
            continue; // a device node needs root
        ASSERT_EQ(make(), 0) << kind;
        struct stat made {};
        ::lstat(box.users().c_str(), &made);
        write_file(box.backup(), earlier);
        run_result r = box.run("u p\n", {}, "vtpasswd", [] { ::alarm(20); });
        EXPECT_EQ(r.status, 1) << kind;
        EXPECT_EQ(r.err, "Could not open password file " VT_ETC_DIR "/vanto_users.dat" + bad_file_tail) << kind;
        struct stat now {};
        EXPECT_EQ(::lstat(box.users().c_str(), &now), 0) << kind;
        EXPECT_EQ(now.st_mode, made.st_mode) << kind;
        EXPECT_EQ(now.st_ino, made.st_ino) << kind;
        struct stat backup {};
        EXPECT_TRUE(::lstat(box.backup().c_str(), &backup) == 0 && S_ISREG(backup.st_mode)) << kind;
        if (S_ISREG(backup.st_mode)) {
            EXPECT_EQ(read_file(box.backup()), earlier) << kind;
        }
        EXPECT_FALSE(file_exists(box.users() + ".new")) << kind;
        for (const std::string& made_here : {box.users(), box.backup(), box.users() + ".fifo"})
            ::remove(made_here.c_str());
    }
}

TEST_F(Update, BackupWithoutAUserFileIsKeptAsideAndANewFileStarted)
{
    // A run of an older tool killed between its rename and its copy, or a user file deleted by
    // hand: the backup is then the only copy of every user, and no later run may delete it.
    struct orphan {
        std::string backup;
        const char* kept_as; // nullptr: nothing worth keeping
    };
    const orphan cases[] = {
        {filler_record("a", 1) + filler_record("b", 2), ".1"},
        {"", nullptr},
        {filler_record("c", 3), ".2"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string user = "new" + std::to_string(i);
        ::unlink(box.users().c_str());
        write_file(box.backup(), cases[i].backup);
        run_result r = run(user + " pw");
        EXPECT_EQ(r.status, 0) << i << r.err;
        EXPECT_EQ(r.err, "Password changed for user " + user + ".\n");
        const std::vector<std::string> after = lines();
        ASSERT_EQ(after.size(), 1u) << i;
        EXPECT_EQ(field(after[0], 0, user.size() + 1), user + " ");
        EXPECT_EQ(read_file(box.backup()), "") << i;
        if (cases[i].kept_as) {
            EXPECT_EQ(read_file(box.backup() + cases[i].kept_as), cases[i].backup) << i;
        }
    }
    // Kept files are never deleted nor overwritten, and nothing else was kept.
    EXPECT_EQ(read_file(box.backup() + ".1"), cases[0].backup);
    EXPECT_FALSE(file_exists(box.backup() + ".3"));
    ASSERT_EQ(run("later pw").status, 0);
    EXPECT_EQ(read_file(box.backup() + ".2"), cases[2].backup);
}

} // namespace
