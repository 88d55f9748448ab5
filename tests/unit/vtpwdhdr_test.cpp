#include "command/failure.hpp"
#include "command/vtfiles.hpp"
#include "command/vtpwdhdr.hpp"
#include "support/records.hpp"
#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>

using namespace Vtpwdhdr;

namespace {

// A scratch file that the test owns and removes.
struct scratch {
    std::string path;
    scratch()
    {
        char tmpl[] = "/tmp/vtpwd.XXXXXX";
        int fd = ::mkstemp(tmpl);
        ::close(fd);
        path = tmpl;
    }
    ~scratch() { ::unlink(path.c_str()); }
};

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

const std::string hex32a(32, 'a'), hex32b(32, 'b');

TEST(RecordFormat, UserAndNumberFieldsHaveTheirFixedWidths)
{
    EXPECT_EQ(spaceduser("abcdefghijklmnopqrstuvw"), "abcdefghijklmnopqrst");
    EXPECT_EQ(spaceduser(""), std::string(20, ' '));
    for (auto [n, text] : {std::pair{0, "000"}, {9, "009"}, {10, "010"}, {99, "099"}, {100, "100"}, {999, "999"}})
        EXPECT_EQ(spacedstring_of_int(n), text);
}

TEST(RecordFormat, WrittenLinesMatchAHandBuiltLayoutAndReadBackBeyondAnyBuffer)
{
    scratch f;
    Vtfiles::out_channel out = Vtfiles::vt_open_out(f.path);
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        const std::string user = "user" + std::to_string(i);
        write_pwd_line(out, user, i % 1000, hex32a, hex32b, hex32a, hex32b);
        expected += vttest::record(user, i % 1000, hex32a, hex32b, hex32a, hex32b);
    }
    out.close();
    EXPECT_TRUE(vttest::read_file(f.path) == expected);

    Vtfiles::in_channel in = Vtfiles::vt_open_in(f.path);
    for (int i = 0; i < 2000; ++i) {
        pwd_record r = read_pwd_line(in);
        ASSERT_EQ(r.code(), "OK");
        ASSERT_EQ(r.user(), spaceduser("user" + std::to_string(i)));
        ASSERT_EQ(r.number(), i % 1000);
        ASSERT_EQ(r.md5(), hex32b);
    }
    EXPECT_EQ(read_pwd_line(in).code(), "EOF");
}

TEST(RecordFormat, ReaderOutcomes)
{
    scratch f;
    std::string odd = vttest::record("x", 5, hex32a, hex32a, hex32a, hex32a);
    for (int sep : {20, 24, 57, 90, 123, 156})
        odd[sep] = '#';
    std::string negative = vttest::record("n", 0, hex32a, hex32a, hex32a, hex32a).replace(21, 3, "-07");
    vttest::write_file(f.path, odd + negative + odd.substr(0, 100));
    Vtfiles::in_channel in = Vtfiles::vt_open_in(f.path);
    pwd_record first = read_pwd_line(in);
    // Separators and the final byte are not examined; the fields come from their positions.
    EXPECT_EQ(first.code(), "OK");
    EXPECT_EQ(first.number(), 5);
    pwd_record second = read_pwd_line(in);
    EXPECT_EQ(second.number(), -7);
    // The first record's fields stay valid after later reads.
    EXPECT_EQ(first.user(), spaceduser("x"));
    EXPECT_EQ(read_pwd_line(in).code(), "ERR");

    scratch empty;
    Vtfiles::in_channel none = Vtfiles::vt_open_in(empty.path);
    EXPECT_EQ(read_pwd_line(none).code(), "EOF");
}

TEST(RecordFormat, CountThatIsNotAnIntegerRaisesIntOfString)
{
    for (const char* text : {" 42", "4a2", "-", "+12", "0x1"})
        EXPECT_THROW(int_of_string(text), Vtfailure::failure) << text;
    EXPECT_EQ(int_of_string("-99"), -99);
}

TEST(RecordFormat, WriterRefusesValuesThatWouldMisalignTheFile)
{
    char line[line_length];
    EXPECT_FALSE(compose_pwd_line(line, "u", -1, hex32a, hex32a, hex32a, hex32a));
    EXPECT_FALSE(compose_pwd_line(line, "u", 1000, hex32a, hex32a, hex32a, hex32a));
    EXPECT_FALSE(compose_pwd_line(line, "u", 1, hex32a + "0", hex32a, hex32a, hex32a));
}

TEST(RecordFormat, RecordWrittenBackEqualsItsSevenValuesWrittenAgain)
{
    std::string odd = vttest::record("odd name", 0, hex32a, hex32b, hex32a, hex32b);
    for (int sep : {20, 24, 57, 90, 123, 156})
        odd[sep] = '|';
    odd.replace(21, 3, "-00");
    scratch f;
    vttest::write_file(f.path, odd + odd.substr(0, 21) + "042" + odd.substr(24) + odd.substr(0, 21) + "-01" +
                                   odd.substr(24));
    Vtfiles::in_channel in = Vtfiles::vt_open_in(f.path);
    scratch g, h;
    Vtfiles::out_channel whole = Vtfiles::vt_open_out(g.path), values = Vtfiles::vt_open_out(h.path);
    for (int i = 0; i < 2; ++i) {
        pwd_record r = read_pwd_line(in);
        write_pwd_record(whole, r);
        write_pwd_line(values, r.user(), r.number(), r.salt(), r.md5(), r.hidesalt(), r.secret());
    }
    pwd_record negative = read_pwd_line(in);
    EXPECT_THROW(write_pwd_record(whole, negative), Vtfailure::failure);
    whole.close();
    values.close();
    EXPECT_EQ(vttest::read_file(g.path), vttest::read_file(h.path));
    EXPECT_EQ(vttest::read_file(g.path).substr(0, 25), "odd name             000 ");
}

TEST(HexCoding, BinToHexPadsInFrontAndWritesLowercase)
{
    EXPECT_EQ(bin_to_hex(bytes({0x00, 0xAB, 0x10}), 3), "00ab10");
    EXPECT_EQ(bin_to_hex(bytes({0x00, 0xAB, 0x10}), 5), "000000ab10");
    EXPECT_EQ(bin_to_hex(bytes({0xFF, 0x01, 0x02}), 1), "ff");
}

TEST(HexCoding, HexToBinPadsLowercasesAndReportsEachBadCharacter)
{
    EXPECT_EQ(hex_to_bin("AB1", 2), bytes({0x0A, 0xB1}));
    EXPECT_EQ(hex_to_bin("00ab10ff", 4), bytes({0x00, 0xAB, 0x10, 0xFF}));
    EXPECT_EQ(hex_to_bin("00ab10ffee", 2), bytes({0x00, 0xAB}));

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(hex_to_bin("zz", 1), bytes({0x00}));
    EXPECT_EQ(hex_to_bin("Gf", 1), bytes({0x0F}));
    const std::string err = ::testing::internal::GetCapturedStderr();
    std::regex shape("(ERR \\(\\d\\d:\\d\\d:\\d\\d\\):: hexcode was called with bad char z\n){2}"
                     "ERR \\(\\d\\d:\\d\\d:\\d\\d\\):: hexcode was called with bad char g\n");
    EXPECT_TRUE(std::regex_match(err, shape)) << err;
}

TEST(Digest, IteratedMd5AgreesWithAnIndependentTool)
{
    const std::string salt_hex = "000102030405060708090a0b0c0d0e0f";
    const std::string salt = hex_to_bin(salt_hex, 16);
    for (int rounds : {0, 1, 5})
        EXPECT_EQ(bin_to_hex(initial_md5("pa ss", salt, rounds), 16),
                  vttest::openssl_iterated_md5("pa ss", salt_hex, rounds))
            << rounds;
    EXPECT_EQ(bin_to_hex(initial_md5("", salt, 200), 16), vttest::openssl_iterated_md5("", salt_hex, 200));
    // A negative count makes no round: the concatenation itself.
    EXPECT_EQ(initial_md5("pw", salt, -1), "pw" + salt);
}

} // namespace
