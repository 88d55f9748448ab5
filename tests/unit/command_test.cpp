// What the password command's runs do not show: record edges, hex coding, open helpers, shell delete, the locations file's lines.
#include "command/failure.hpp"
#include "command/vtfiles.hpp"
#include "command/vtlocations.hpp"
#include "command/vtpwdhdr.hpp"
#include "command/vtrotation.hpp"
#include "support/console.hpp"
#include "cutil/host.hpp"
#include "support/sandbox.hpp"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

using namespace Vtpwdhdr;
const std::string hex32a(32, 'a'), hex32b(32, 'b');

TEST(RecordFormat, FieldsComeFromTheirPositionsAndRecordsGoBackAsReadWithTheirCountRewritten)
{
    const vttest::sandbox s;
    const std::string expected = "odd name             005 " + hex32a + " " + hex32b + " " + hex32a + " " + hex32b + "\n";
    std::string odd = expected;
    for (int sep : {20, 24, 57, 90, 123, 156}) // separators and the final byte are not examined
        odd[sep] = '|';
    const std::string negative = std::string(odd).replace(21, 3, "-07");
    vttest::write_file(s.root() + "/in", odd + odd.substr(0, 21) + "-00" + odd.substr(24) + negative + odd.substr(0, 100));
    Vtfiles::in_channel in = Vtfiles::vt_open_in(s.root() + "/in");
    Vtfiles::out_channel whole = Vtfiles::vt_open_out(s.root() + "/whole");
    pwd_record first = read_pwd_line(in), r = first;
    for (; r.number() >= 0; r = read_pwd_line(in))
        write_pwd_record(whole, r);
    EXPECT_THROW(write_pwd_record(whole, r), Vtfailure::failure); // "-07" would misalign the file
    EXPECT_EQ(read_pwd_line(in).code(), "ERR");                   // the short line
    EXPECT_EQ(read_pwd_line(in).code(), "EOF");
    EXPECT_EQ(initial_md5("pw", "salt", r.number()), "pwsalt"); // a hostile count makes no round, not four billion
    EXPECT_EQ(std::string(first.user()) + "|" + std::to_string(first.number()), spaceduser("odd name") + "|5"); // still valid
    whole.close();
    EXPECT_EQ(vttest::read_file(s.root() + "/whole"), expected + std::string(expected).replace(21, 3, "000"));

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
    const vttest::console c = vttest::console_of([&] { for (const char* bad : {"zz", "Gf"}) decoded += hex_to_bin(bad, 1); });
    EXPECT_EQ(decoded, std::string("\x00\x0f", 2));
    EXPECT_EQ(vttest::timeless(c.err), "ERR (T):: hexcode was called with bad char z\nERR (T):: hexcode was called with bad char z\n"
                                       "ERR (T):: hexcode was called with bad char g\n");
}

TEST(OpenHelpers, WritingWithoutTruncateKeepsTheTailAndFailuresNameThePath)
{
    const vttest::sandbox s;
    vttest::write_file(s.root() + "/f", "0123456789");
    Vtfiles::out_channel out = Vtfiles::vt_open_out_gen({Vtfiles::open_flag::wronly, Vtfiles::open_flag::creat}, 0600, s.root() + "/f");
    out.write("ab", 2);
    out.close();
    EXPECT_EQ(vttest::read_file(s.root() + "/f"), "ab23456789");
    std::string why = "opened";
    try { Vtfiles::vt_open_in("/no/such/dir/file"); } catch (const Vtfailure::failure& f) { why = f.describe(); }
    EXPECT_EQ(why, "Sys_error(\"/no/such/dir/file: No such file or directory\")");
}

TEST(ShellDelete, QuotedPathIsDeletedAsItselfAndNothingElseRuns)
{
    const vttest::sandbox s;
    const std::string nasty = "old $(touch pwned) `touch pwned2`; touch pwned3 'it''s' \"q\" * \\ &";
    vttest::write_file(s.root() + "/" + nasty, "x");
    vttest::write_file(s.root() + "/old", "keep");
    EXPECT_EQ(Vtpasswd::run_shell("cd " + Vtpasswd::shell_quote(s.root()) + " && rm " + Vtpasswd::shell_quote(nasty)), 0); // exited, status 0
    EXPECT_EQ(vttest::tree(s.root(), [](const std::string& content) { return content; }), "old 600 keep");
}

// The probe's names are anyone's to plant (a link to a device, say): it looks them up and opens nothing.
TEST(JitterProbe, OpensNothingItsNamesCouldReach)
{
    const vttest::child_run r = vttest::run_in_child([] {
        sock_filter code[] = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)), BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 1, 0),
                              BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_open, 0, 1), BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
                              BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
        sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            return std::string("no filter");
        return std::to_string(cutil::make_random().size());
    });
    EXPECT_EQ(r.answer, "16");
}

TEST(LocationsFile, ReadingFollowsEveryLineRule)
{
    const vttest::sandbox s;
    const std::pair<std::string, std::string> cases[] = {
        {"GUI g\nBIN b\nMAIN /m/\n", "/m//tessaroul|b|g"},                                            // any order, a trailing separator kept
        {"MAIN /a\nBIN x\nMAIN /opt/tessaroul\nBIN y\n", "/opt/tessaroul|y|"},                        // later wins, the component once
        {"MAIN /opt/Tessaroul\nmain /x\nOTHER y\nMAINX z\n\nBIN b\n", "/opt/Tessaroul/tessaroul|b|"}, // exact keys
        {"MAIN\nMAIN  /opt\nBIN /a b\nGUI \n", "/tessaroul|/a|"},                                     // blanks split fields
        {"MAIN /opt/tessaroul\r\nBIN /b\r\n", "/opt/tessaroul\r/tessaroul|/b\r|"},                    // CR kept in values
        {"MAIN tessaroul\nBIN /b\nGUI /g", "tessaroul|/b|/g"},                                        // last line unended
        {"", "||"},
    };
    for (const auto& [text, expected] : cases) {
        vttest::write_file(s.root() + "/locations.dat", text);
        Vtfiles::in_channel in = Vtfiles::vt_open_in(s.root() + "/locations.dat");
        const Vtfiles::locations l = Vtfiles::read_locations_from(in);
        EXPECT_EQ(l.main_dir + "|" + l.bin_dir + "|" + l.gui_dir, expected) << text;
    }
}
