// The locations file in the compiled-in etc directory, read and written inside a sandbox that
// stands in for the host's directories.
#include "command/vtlocations.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

using Vtfiles::location_system;

namespace {

std::string show(const Vtfiles::locations& l) { return l.main_dir + "|" + l.bin_dir + "|" + l.gui_dir; }

class LocationsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = vttest::sandbox_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        sb.make_etc();
    }
    vttest::sandbox sb;
};

} // namespace

TEST_F(LocationsFile, WrittenDirectoriesReadBackWithTheMainOneNormalised)
{
    auto r = sb.run_inside([] {
        Vtfiles::write_locations(location_system::LO_UNIX, "/opt/p", "/opt/p/bin", "/opt/p/gui");
        return show(Vtfiles::read_locations(location_system::LO_UNIX));
    });
    EXPECT_EQ(r.answer, "/opt/p/tessaroul|/opt/p/bin|/opt/p/gui");
    EXPECT_EQ(vttest::read_file(sb.etc_dir() + "/locations.dat"), "MAIN /opt/p\nBIN /opt/p/bin\nGUI /opt/p/gui\n");
}

TEST_F(LocationsFile, ReadingFollowsEveryLineRule)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"GUI g\nBIN b\nMAIN /m\n", "/m/tessaroul|b|g"},                          // any order
        {"MAIN /a\nBIN x\nMAIN /b\nBIN y\n", "/b/tessaroul|y|"},                  // later wins
        {"main /x\nOTHER y\nMAINX z\n\nBIN b\n", "|b|"},                          // exact keys only
        {"MAIN\nMAIN  /opt\nBIN /a b\nGUI \n", "/tessaroul|/a|"},                 // blanks split fields
        {"MAIN /opt/tessaroul\r\nBIN /b\r\n", "/opt/tessaroul\r/tessaroul|/b\r|"}, // CR kept in values
        {"BIN /b\nGUI /g", "|/b|/g"},                                             // last line unended
        {"", "||"},
    };
    auto r = sb.run_inside([&] {
        std::string seen;
        for (const auto& c : cases) {
            vttest::write_file(Vtfiles::unix_location, c.first);
            seen += show(Vtfiles::read_locations(location_system::LO_UNIX)) + "\n";
        }
        return seen;
    });
    std::string expected;
    for (const auto& c : cases)
        expected += c.second + "\n";
    EXPECT_EQ(r.answer, expected);
}

TEST_F(LocationsFile, UnreadableOrMissingFileGivesThreeEmptyTexts)
{
    auto r = sb.run_inside([] {
        std::string seen = show(Vtfiles::read_locations(location_system::LO_UNIX)) + "\n";
        // A read error after the open: the name is a directory.
        std::filesystem::create_directory(Vtfiles::unix_location);
        seen += show(Vtfiles::read_locations(location_system::LO_UNIX)) + "\n";
        // Writing over the directory fails quietly and leaves it as it was.
        Vtfiles::write_locations(location_system::LO_UNIX, "/a", "/b", "/c");
        seen += std::filesystem::is_directory(Vtfiles::unix_location) ? "dir" : "replaced";
        return seen;
    });
    EXPECT_EQ(r.answer, "||\n||\ndir");
    EXPECT_EQ(r.err, "");
}

TEST_F(LocationsFile, NtSelectorNamesTheBackslashFileBesideTheEtcDirectory)
{
    auto r = sb.run_inside([] {
        Vtfiles::write_locations(location_system::LO_NT, "/nt", "/nt/bin", "/nt/gui");
        Vtfiles::write_locations(location_system::LO_UNIX, "/unix", "/unix/bin", "/unix/gui");
        return show(Vtfiles::read_locations(location_system::LO_NT)) + "\n" +
               show(Vtfiles::read_locations(location_system::LO_UNIX));
    });
    EXPECT_EQ(r.answer, "/nt/tessaroul|/nt/bin|/nt/gui\n/unix/tessaroul|/unix/bin|/unix/gui");
    const std::string parent = std::filesystem::path(sb.etc_dir()).parent_path().string();
    EXPECT_EQ(vttest::read_file(parent + "/tessaroul\\locations.dat"), "MAIN /nt\nBIN /nt/bin\nGUI /nt/gui\n");
}

TEST_F(LocationsFile, WritingWithoutTheEtcDirectoryIsSwallowed)
{
    std::filesystem::remove_all(sb.etc_dir());
    auto r = sb.run_inside([] {
        Vtfiles::write_locations(location_system::LO_UNIX, "/a", "/b", "/c");
        return std::string("returned");
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.answer, "returned");
    EXPECT_FALSE(vttest::file_exists(sb.etc_dir()));
}
