// Vtpwdhdr: one 157-byte line of the user file, its digest and its hexadecimal coding.
#pragma once

#include "command/vtstream.hpp"

#include <array>
#include <string>
#include <string_view>

namespace Vtpwdhdr {

inline constexpr int large_number = 200;
inline constexpr int max_user_length = 20;
inline constexpr int max_number_length = 3;
inline constexpr int salt_length = 32;
inline constexpr int md5_length = 32;
inline constexpr int hidesalt_length = 32;
inline constexpr int secret_length = 32;
inline constexpr int user_offset = 0;
inline constexpr int number_offset = user_offset + max_user_length + 1;
inline constexpr int salt_offset = number_offset + max_number_length + 1;
inline constexpr int md5_offset = salt_offset + salt_length + 1;
inline constexpr int hidesalt_offset = md5_offset + md5_length + 1;
inline constexpr int secret_offset = hidesalt_offset + hidesalt_length + 1;
inline constexpr int line_length = secret_offset + secret_length + 1;
static_assert(number_offset == 21 && salt_offset == 25 && md5_offset == 58);
static_assert(hidesalt_offset == 91 && secret_offset == 124 && line_length == 157);

inline constexpr std::string_view hex_codes = "0123456789abcdef";
inline constexpr int mask = 15;

inline constexpr std::string_view code_ok = "OK";
inline constexpr std::string_view code_eof = "EOF";
inline constexpr std::string_view code_err = "ERR";

// One line as read. The record keeps its own copy of the line, so its fields stay valid
// after the next read; on "EOF" and "ERR" every text is empty and the number 0.
class pwd_record {
public:
    static pwd_record eof() { return pwd_record(code_eof); }
    static pwd_record err() { return pwd_record(code_err); }

    std::string_view code() const { return code_; }
    std::string_view user() const { return field(user_offset, max_user_length); }
    int number() const { return number_; }
    std::string_view salt() const { return field(salt_offset, salt_length); }
    std::string_view md5() const { return field(md5_offset, md5_length); }
    std::string_view hidesalt() const { return field(hidesalt_offset, hidesalt_length); }
    std::string_view secret() const { return field(secret_offset, secret_length); }

    // The whole line as read, for writing it back without taking it apart.
    const std::array<char, line_length>& line() const { return line_; }

private:
    friend // Reads the next line into the record's own buffer: "OK", "EOF" at the end, "ERR" for a short line.
pwd_record read_pwd_line(Vtfiles::in_channel& fdr);
    explicit pwd_record(std::string_view code) : code_(code) {}
    std::string_view field(int offset, int width) const
    {
        return code_ == code_ok ? std::string_view(line_.data() + offset, width) : std::string_view();
    }

    std::string_view code_;
    int number_ = 0;
    std::array<char, line_length> line_{};
};

// Reads the next line into the record's own buffer: "OK", "EOF" at the end, "ERR" for a short line.
pwd_record read_pwd_line(Vtfiles::in_channel& fdr);

// The whole line for these values, or false when they would not make a 157-byte line
// (a number outside 0 to 999, or a hex field that is not 32 characters).
bool compose_pwd_line(char (&line)[line_length], std::string_view user, int number, std::string_view salt,
                      std::string_view md5, std::string_view hidesalt, std::string_view secret);
// Appends one line; refuses, with Invalid_argument, values that would misalign the file.
void write_pwd_line(Vtfiles::out_channel& fdw, std::string_view user, int number, std::string_view salt,
                    std::string_view md5, std::string_view hidesalt, std::string_view secret);

// number + 1 rounds of MD5 over the password followed by the raw salt.
std::string initial_md5(std::string_view passwd, std::string_view salt, int number);
std::string bin_to_hex(std::string_view bin, int len);
std::string hex_to_bin(std::string_view hex, int len);
int hex2code(char chr);
std::string spaceduser(std::string_view user);
std::string spacedstring_of_int(int num);

// Appends a record read as "OK" exactly as write_pwd_line writes its seven values, without
// taking it apart; refuses, like write_pwd_line, a number outside 0 to 999.
void write_pwd_record(Vtfiles::out_channel& fdw, const pwd_record& r);

// Parses a decimal integer the whole text must spell: digits after an optional minus sign.
// Raises Failure "int_of_string" otherwise.
int int_of_string(std::string_view text);

} // namespace Vtpwdhdr
