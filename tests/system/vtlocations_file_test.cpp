// The locations file in the compiled-in etc directory, read and written inside a sandbox that
// stands in for the host's directories.
#include "command/vtlocations.hpp"
#include "support/sandbox_fixture.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

using Vtfiles::location_system;
namespace fs = std::filesystem;

namespace {

std::string read_back(location_system which)
{
    const Vtfiles::locations l = Vtfiles::read_locations(which);
    return l.main_dir + "|" + l.bin_dir + "|" + l.gui_dir + "\n";
}

using LocationsFile = vttest::sandbox_test;

} // namespace

TEST_F(LocationsFile, EachSelectorWritesItsOwnFileThatReadsBackWithTheMainOneNormalised)
{
    auto r = box.run_inside([] {
        Vtfiles::write_locations(location_system::LO_NT, "/nt", "/nt/bin", "/nt/gui");
        Vtfiles::write_locations(location_system::LO_UNIX, "/opt/p", "/opt/p/bin", "/opt/p/gui");
        return read_back(location_system::LO_NT) + read_back(location_system::LO_UNIX);
    });
    EXPECT_EQ(r.answer, "/nt/tessaroul|/nt/bin|/nt/gui\n/opt/p/tessaroul|/opt/p/bin|/opt/p/gui\n");
    EXPECT_EQ(vttest::read_file(box.etc_dir() + "/locations.dat"), "MAIN /opt/p\nBIN /opt/p/bin\nGUI /opt/p/gui\n");
    // The backslash name lies beside the etc directory, not in it.
    const std::string parent = fs::path(box.etc_dir()).parent_path().string();
    EXPECT_EQ(vttest::read_file(parent + "/tessaroul\\locations.dat"), "MAIN /nt\nBIN /nt/bin\nGUI /nt/gui\n");
}

TEST_F(LocationsFile, ReadingFollowsEveryLineRuleAndAnyFailureGivesThreeEmptyTexts)
{
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
    auto r = box.run_inside([&] {
        std::string seen = read_back(location_system::LO_UNIX); // no file yet
        for (const auto& c : cases) {
            vttest::write_file(Vtfiles::unix_location, c.first);
            seen += read_back(location_system::LO_UNIX);
        }
        // A read error after the open: the name is a directory, which a write fails to replace.
        fs::remove(Vtfiles::unix_location);
        fs::create_directory(Vtfiles::unix_location);
        Vtfiles::write_locations(location_system::LO_UNIX, "/a", "/b", "/c");
        seen += read_back(location_system::LO_UNIX) + (fs::is_directory(Vtfiles::unix_location) ? "dir\n" : "replaced\n");
        // A FIFO without a writer or reader: neither call may wait on it.
        fs::remove(Vtfiles::unix_location);
        ::mkfifo(Vtfiles::unix_location.c_str(), 0600);
        ::alarm(10);
        Vtfiles::write_locations(location_system::LO_UNIX, "/a", "/b", "/c");
        return seen + read_back(location_system::LO_UNIX) + (fs::is_fifo(Vtfiles::unix_location) ? "fifo" : "replaced");
    });
    std::string expected = "||\n";
    for (const auto& c : cases)
        expected += c.second + "\n";
    EXPECT_EQ(r.answer, expected + "||\ndir\n||\nfifo");
    EXPECT_EQ(r.err, "");
}
