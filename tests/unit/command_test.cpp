// The password command's pieces that its runs do not show: the record reader and writer at their
// edges, the hex coding, the open helpers, the shell delete and the locations file's lines.
#include "command/failure.hpp"
#include "command/vtfiles.hpp"
#include "command/vtlocations.hpp"
#include "command/vtpwdhdr.hpp"
#include "command/vtrotation.hpp"
#include "support/console.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using namespace Vtpwdhdr;
namespace fs = std::filesystem;

namespace {

struct scratch {
    std::string dir = [] { char tmpl[] = "/tmp/vtunit.XXXXXX"; return std::string(::mkdtemp(tmpl)); }();
    ~scratch() { std::error_code ec; fs::remove_all(dir, ec); }
    std::string path(const char* name) const { return dir + "/" + name; }
};

const std::string hex32a(32, 'a'), hex32b(32, 'b');

} // namespace

TEST(RecordFormat, FieldsComeFromTheirPositionsAndRecordsGoBackAsReadWithTheirCountRewritten)
{
    scratch s;
    const std::string expected = "odd name             005 " + hex32a + " " + hex32b + " " + hex32a + " " + hex32b + "\n";
    std::string odd = expected;
    for (int sep : {20, 24, 57, 90, 123, 156}) // separators and the final byte are not examined
        odd[sep] = '|';
    const std::string negative = std::string(odd).replace(21, 3, "-07");
    vttest::write_file(s.path("in"), odd + odd.substr(0, 21) + "-00" + odd.substr(24) + negative + odd.substr(0, 100));
    Vtfiles::in_channel in = Vtfiles::vt_open_in(s.path("in"));
    Vtfiles::out_channel whole = Vtfiles::vt_open_out(s.path("whole"));
    pwd_record first = read_pwd_line(in), r = first;
    for (; r.number() >= 0; r = read_pwd_line(in))
        write_pwd_record(whole, r);
    EXPECT_THROW(write_pwd_record(whole, r), Vtfailure::failure); // "-07" would misalign the file
    EXPECT_EQ(read_pwd_line(in).code(), "ERR");                   // the short line
    EXPECT_EQ(read_pwd_line(in).code(), "EOF");
    EXPECT_EQ(initial_md5("pw", "salt", r.number()), "pwsalt"); // a hostile count makes no round, not four billion
    EXPECT_EQ(std::string(first.user()) + "|" + std::to_string(first.number()), spaceduser("odd name") + "|5"); // still valid
    whole.close();
    EXPECT_EQ(vttest::read_file(s.path("whole")), expected + std::string(expected).replace(21, 3, "000"));

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
    EXPECT_EQ(hex_to_bin("AB1", 2) + hex_to_bin("00ab10ffee", 2), std::string("\x0a\xb1\x00\xab", 4));
    std::string decoded;
    const vttest::console c = vttest::console_of([&] { decoded = hex_to_bin("zz", 1), decoded += hex_to_bin("Gf", 1); });
    EXPECT_EQ(decoded, std::string("\x00\x0f", 2));
    EXPECT_EQ(vttest::timeless(c.err), "ERR (T):: hexcode was called with bad char z\nERR (T):: hexcode was called with bad char z\n"
                                       "ERR (T):: hexcode was called with bad char g\n");
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
    EXPECT_EQ(Vtpasswd::run_shell("cd " + Vtpasswd::shell_quote(s.dir) + " && rm " + Vtpasswd::shell_quote(nasty)), 0); // exited, status 0
    EXPECT_EQ(vttest::tree(s.dir, [](const std::string& content) { return content; }), "old 600 keep");
}

TEST(LocationsFile, ReadingFollowsEveryLineRule)
{
    scratch s;
    const std::pair<std::string, std::string> cases[] = {
        {"GUI g\nBIN b\nMAIN /m\n", "/m/tessaroul|b|g"},                          // any order
        {"MAIN /a\nBIN x\nMAIN /b\nBIN y\n", "/b/tessaroul|y|"},                  // later wins
        {"main /x\nOTHER y\nMAINX z\n\nBIN b\n", "|b|"},                          // exact keys only
        {"MAIN\nMAIN  /opt\nBIN /a b\nGUI \n", "/tessaroul|/a|"},                 // blanks split fields
        {"MAIN /opt/tessaroul\r\nBIN /b\r\n", "/opt/tessaroul\r/tessaroul|/b\r|"}, // CR kept in values
        {"MAIN /opt/tessaroul\n", "/opt/tessaroul||"},                            // the component once
        {"MAIN tessaroul\n", "tessaroul||"},
        {"MAIN /opt/Tessaroul\n", "/opt/Tessaroul/tessaroul||"},
        {"MAIN /opt/x/\n", "/opt/x//tessaroul||"},
        {"BIN /b\nGUI /g", "|/b|/g"},                                             // last line unended
        {"", "||"},
    };
    for (const auto& [text, expected] : cases) {
        vttest::write_file(s.path("locations.dat"), text);
        Vtfiles::in_channel in = Vtfiles::vt_open_in(s.path("locations.dat"));
        const Vtfiles::locations l = Vtfiles::read_locations_from(in);
        EXPECT_EQ(l.main_dir + "|" + l.bin_dir + "|" + l.gui_dir, expected) << text;
    }
}
