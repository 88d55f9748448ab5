// What the password command's runs do not show: record edges, the shell delete, the locations
// file's lines.
#include "command/failure.hpp"
#include "command/vtfiles.hpp"
#include "command/vtlocations.hpp"
#include "command/vtpwdhdr.hpp"
#include "command/vtrotation.hpp"
#include "cutil/host.hpp"
#include "support/sandbox.hpp"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/syscall.h>

using namespace Vtpwdhdr;
const std::string hex32a(32, 'a'), hex32b(32, 'b');

TEST(RecordFormat, FieldsAndCountRewritten)
{
    const vttest::sandbox s;
    const std::string expected = "odd name             005 " + hex32a + " " + hex32b + " " + hex32a + " " + hex32b + "\n";
    std::string odd = expected;
    for (int sep : {20, 24, 57, 90, 123, 156}) // separators and the final byte are not examined
        odd[sep] = '|';
    vttest::write_file(s.root() + "/in", odd + odd.substr(0, 21) + "-00" + odd.substr(24));
    Vtfiles::in_channel in = Vtfiles::vt_open_in(s.root() + "/in");
    Vtfiles::out_channel whole = Vtfiles::vt_open_out(s.root() + "/whole");
    write_pwd_record(whole, read_pwd_line(in));
    write_pwd_record(whole, read_pwd_line(in));
    whole.close();
    EXPECT_EQ(vttest::read_file(s.root() + "/whole"), expected + std::string(expected).replace(21, 3, "000"));
    // A hostile count makes no round, not four billion.
    EXPECT_EQ(initial_md5("pw", "salt", -7), "pwsalt");
    EXPECT_EQ(spacedstring_of_int(9) + spacedstring_of_int(99) + spacedstring_of_int(100), "009099100");
}

TEST(Failures, ErrnoNames)
{
    const std::pair<int, const char*> names[] = {
        {EAGAIN, "EAGAIN"}, // of two names, glibc's
        {EOPNOTSUPP, "EOPNOTSUPP"},
        {4095, "EUNKNOWNERR 4095"}};
    for (auto [err, name] : names)
        EXPECT_EQ(Vtfailure::unix_error(err, "mkdir", "d").describe(),
                  std::string("Unix.Unix_error(Unix.") + name + ", \"mkdir\", \"d\")");
}

TEST(ShellDelete, QuotedPathOnly)
{
    const vttest::sandbox s;
    const std::string nasty = "old $(touch x) `touch y`; touch z 'it''s' \"q\" * \\ &";
    vttest::write_file(s.root() + "/" + nasty, "x");
    vttest::write_file(s.root() + "/old", "keep");
    using Vtpasswd::shell_quote;
    EXPECT_EQ(Vtpasswd::run_shell("cd " + shell_quote(s.root()) + " && rm " + shell_quote(nasty)), 0);
    EXPECT_EQ(vttest::tree(s.root(), [](const std::string& text) { return text; }), "old 600 keep");
}

// The probe's names are anyone's to plant (a link to a device, say): it looks them up, opens none.
TEST(JitterProbe, OpensNothing)
{
    const vttest::child_run r = vttest::run_in_child([] {
        vttest::install_filter({BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 2, 0),
                                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_open, 1, 0),
                                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
                                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS)});
        return std::to_string(cutil::make_random().size());
    });
    EXPECT_EQ(r.answer, "16");
}

TEST(LocationsFile, LineRules)
{
    const vttest::sandbox s;
    const std::pair<std::string, std::string> cases[] = {
        {"GUI g\nBIN b\nMAIN /m/\n", "/m//tessaroul|b|g"}, // any order, a trailing separator kept
        {"MAIN /a\nBIN x\nMAIN /opt/tessaroul\nBIN y\n", "/opt/tessaroul|y|"}, // later wins, the component once
        {"MAIN /opt/Tessaroul\nmain /x\nOTHER y\nMAINX z\n\nBIN b\n", "/opt/Tessaroul/tessaroul|b|"},
        {"MAIN\nMAIN  /opt\nBIN /a b\nGUI \n", "/tessaroul|/a|"}, // blanks split fields
        {"MAIN /opt/tessaroul\r\nBIN /b\r\n", "/opt/tessaroul\r/tessaroul|/b\r|"}, // CR kept
        {"MAIN tessaroul\nBIN /b\nGUI /g", "tessaroul|/b|/g"}, // last line unended
        {"", "||"},
    };
    for (const auto& [text, expected] : cases) {
        vttest::write_file(s.root() + "/locations.dat", text);
        Vtfiles::in_channel in = Vtfiles::vt_open_in(s.root() + "/locations.dat");
        const Vtfiles::locations l = Vtfiles::read_locations_from(in);
        EXPECT_EQ(l.main_dir + "|" + l.bin_dir + "|" + l.gui_dir, expected) << text;
    }
}
