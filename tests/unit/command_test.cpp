// The password command's pieces that its runs do not show: the record reader and writer at their
// edges, the hex coding, the digest's round count, the open helpers and the shell delete.
#include "command/failure.hpp"
#include "command/vtfiles.hpp"
#include "command/vtpwdhdr.hpp"
#include "command/vtrotation.hpp"
#include "support/console.hpp"
#include "support/records.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>

using namespace Vtpwdhdr;
namespace fs = std::filesystem;

namespace {

// A scratch directory that the test owns and removes.
struct scratch {
    std::string dir = [] { char tmpl[] = "/tmp/vtunit.XXXXXX"; return std::string(::mkdtemp(tmpl)); }();
    ~scratch() { std::error_code ec; fs::remove_all(dir, ec); }
    std::string path(const char* name) const { return dir + "/" + name; }
};

const std::string hex32a(32, 'a'), hex32b(32, 'b');

} // namespace

TEST(RecordFormat, FieldsComeFromTheirPositionsAndAreWrittenBackAsTheirSevenValues)
{
    scratch s;
    const std::string expected = vttest::record("odd name", 5, hex32a, hex32b, hex32a, hex32b);
    std::string odd = expected;
    for (int sep : {20, 24, 57, 90, 123, 156}) // separators and the final byte are not examined
        odd[sep] = '|';
    const std::string negative = std::string(odd).replace(21, 3, "-07");
    vttest::write_file(s.path("in"), odd + odd.substr(0, 21) + "-00" + odd.substr(24) + negative + odd.substr(0, 100));
    Vtfiles::in_channel in = Vtfiles::vt_open_in(s.path("in"));
    Vtfiles::out_channel whole = Vtfiles::vt_open_out(s.path("whole")), values = Vtfiles::vt_open_out(s.path("values"));
    pwd_record first = read_pwd_line(in), r = first;
    for (; r.number() >= 0; r = read_pwd_line(in)) {
        write_pwd_record(whole, r);
        write_pwd_line(values, r.user(), r.number(), r.salt(), r.md5(), r.hidesalt(), r.secret());
    }
    EXPECT_THROW(write_pwd_record(whole, r), Vtfailure::failure); // "-07" would misalign the file
    EXPECT_EQ(read_pwd_line(in).code(), "ERR");                   // the short line
    EXPECT_EQ(read_pwd_line(in).code(), "EOF");
    EXPECT_EQ(std::string(first.user()) + "|" + std::to_string(first.number()), spaceduser("odd name") + "|5"); // still valid
    whole.close();
    values.close();
    EXPECT_EQ(vttest::read_file(s.path("whole")), expected + std::string(expected).replace(21, 3, "000"));
    EXPECT_EQ(vttest::read_file(s.path("values")), vttest::read_file(s.path("whole")));

    char line[line_length];
    for (auto [number, salt] : {std::pair{-1, hex32a}, {1000, hex32a}, {1, hex32a + "0"}})
        EXPECT_FALSE(compose_pwd_line(line, "u", number, salt, hex32a, hex32a, hex32a)) << number << salt;
    for (const char* text : {" 42", "4a2", "-", "--1", "+12", "0x1", ""})
        EXPECT_THROW(int_of_string(text), Vtfailure::failure) << text;
    EXPECT_EQ(int_of_string("-99"), -99);
}

TEST(HexCoding, PaddedInFrontLowerCaseAndEachBadCharacterReported)
{
    const std::string bin("\x00\xab\x10", 3);
    EXPECT_EQ(bin_to_hex(bin, 3) + " " + bin_to_hex(bin, 5) + " " + bin_to_hex(bin, 1), "00ab10 000000ab10 00");
    EXPECT_EQ(hex_to_bin("AB1", 2), std::string("\x0a\xb1", 2));
    EXPECT_EQ(hex_to_bin("00ab10ffee", 2), std::string("\x00\xab", 2));
    std::string decoded;
    const vttest::console c = vttest::console_of([&] { decoded = hex_to_bin("zz", 1), decoded += hex_to_bin("Gf", 1); });
    EXPECT_EQ(decoded, std::string("\x00\x0f", 2));
    EXPECT_EQ(vttest::timeless(c.err), "ERR (T):: hexcode was called with bad char z\nERR (T):: hexcode was called with bad char z\n"
                                       "ERR (T):: hexcode was called with bad char g\n");
}

TEST(Digest, ANegativeCountMakesNoRound)
{
    EXPECT_EQ(initial_md5("pw", "0123456789abcdef", -1), "pw0123456789abcdef");
}

TEST(OpenHelpers, WritingWithoutTruncateKeepsTheTailAndFailuresNameThePath)
{
    scratch s;
    vttest::write_file(s.path("f"), "0123456789");
    Vtfiles::out_channel out = Vtfiles::vt_open_out_gen({Vtfiles::open_flag::wronly, Vtfiles::open_flag::creat}, 0600, s.path("f"));
    out.write("ab", 2);
    out.close();
    EXPECT_EQ(vttest::read_file(s.path("f")), "ab23456789");
    try {
        Vtfiles::vt_open_in("/no/such/dir/file");
        ADD_FAILURE();
    } catch (const Vtfailure::failure& f) {
        EXPECT_EQ(f.describe(), "Sys_error(\"/no/such/dir/file: No such file or directory\")");
    }
}

TEST(ShellDelete, QuotedPathIsDeletedAsItselfAndNothingElseRuns)
{
    scratch s;
    const std::string nasty = "old $(touch pwned) `touch pwned2`; touch pwned3 'it''s' \"q\" * \\ &";
    vttest::write_file(s.dir + "/" + nasty, "x");
    vttest::write_file(s.path("old"), "keep");
    const int status = Vtpasswd::run_shell("cd " + Vtpasswd::shell_quote(s.dir) + " && rm " + Vtpasswd::shell_quote(nasty));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string left;
    for (const auto& e : fs::directory_iterator(s.dir))
        left += e.path().filename().string() + " ";
    EXPECT_EQ(left, "old ");
}
