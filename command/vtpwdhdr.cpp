#include "command/vtpwdhdr.hpp"

#include "command/failure.hpp"
#include "cutil/report.hpp"

#include <openssl/evp.h>

#include <cstdio>
#include <cstring>

namespace Vtpwdhdr {

int int_of_string(std::string_view text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    if (i == text.size())
        throw Vtfailure::int_of_string();
    long value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9' || value > 100000000)
            throw Vtfailure::int_of_string();
        value = value * 10 + (c - '0');
    }
    return static_cast<int>(negative ? -value : value);
}

pwd_record read_pwd_line(Vtfiles::in_channel& fdr)
{
    // One record object on every path, built in the caller's place.
    pwd_record r(code_ok);
    const std::size_t num_read = fdr.read(r.line_.data(), line_length);
    if (num_read == static_cast<std::size_t>(line_length))
        r.number_ = int_of_string(std::string_view(r.line_.data() + number_offset, max_number_length));
    else
        r.code_ = num_read == 0 ? code_eof : code_err;
    return r;
}

std::string spaceduser(std::string_view user)
{
    std::string out(user.substr(0, max_user_length));
    out.resize(max_user_length, ' ');
    return out;
}

std::string spacedstring_of_int(int num)
{
    if (num < 10)
        return "00" + std::to_string(num);
    if (num < 100)
        return "0" + std::to_string(num);
    return std::to_string(num);
}

// The count field of a line, three digits; the caller keeps the count within 0 to 999.
static void put_count(char* line, int number)
{
    line[number_offset] = static_cast<char>('0' + number / 100);
    line[number_offset + 1] = static_cast<char>('0' + number / 10 % 10);
    line[number_offset + 2] = static_cast<char>('0' + number % 10);
}

bool compose_pwd_line(char (&line)[line_length], std::string_view user, int number, std::string_view salt,
                      std::string_view md5, std::string_view hidesalt, std::string_view secret)
{
    if (number < 0 || number > 999 || salt.size() != salt_length || md5.size() != md5_length ||
        hidesalt.size() != hidesalt_length || secret.size() != secret_length)
        return false;
    std::memset(line, ' ', line_length);
    std::memcpy(line + user_offset, user.data(), std::min<std::size_t>(user.size(), max_user_length));
    put_count(line, number);
    std::memcpy(line + salt_offset, salt.data(), salt_length);
    std::memcpy(line + md5_offset, md5.data(), md5_length);
    std::memcpy(line + hidesalt_offset, hidesalt.data(), hidesalt_length);
    std::memcpy(line + secret_offset, secret.data(), secret_length);
    line[line_length - 1] = '\n';
    return true;
}

static void refuse_write() { throw Vtfailure::failure("Invalid_argument", {Vtfailure::failure_arg::of_text("write_pwd_line")}); }

void write_pwd_record(Vtfiles::out_channel& fdw, const pwd_record& r)
{
    const int number = r.number();
    if (r.code() != code_ok || number < 0 || number > 999)
        refuse_write();
    // The fields sit where they were read; only the separators and the count are rewritten.
    char* line = fdw.slot(line_length);
    std::memcpy(line, r.line().data(), line_length);
    for (int sep : {user_offset + max_user_length, number_offset + max_number_length, salt_offset + salt_length,
                    md5_offset + md5_length, hidesalt_offset + hidesalt_length})
        line[sep] = ' ';
    put_count(line, number);
    line[line_length - 1] = '\n';
}

void write_pwd_line(Vtfiles::out_channel& fdw, std::string_view user, int number, std::string_view salt,
                    std::string_view md5, std::string_view hidesalt, std::string_view secret)
{
    char line[line_length];
    if (!compose_pwd_line(line, user, number, salt, md5, hidesalt, secret))
        refuse_write();
    fdw.write(line, line_length);
}

std::string initial_md5(std::string_view passwd, std::string_view salt, int number)
{
    std::string value;
    value.reserve(passwd.size() + salt.size());
    value.append(passwd).append(salt);
    unsigned char digest[EVP_MAX_MD_SIZE];
    for (int i = 0; i <= number; ++i) {
        unsigned int len = 0;
        if (EVP_Digest(value.data(), value.size(), digest, &len, EVP_md5(), nullptr) != 1)
            throw Vtfailure::failure("Failure", {Vtfailure::failure_arg::of_text("EVP_Digest")});
        value.assign(reinterpret_cast<const char*>(digest), len);
    }
    return value;
}

std::string bin_to_hex(std::string_view bin, int len)
{
    const std::size_t n = static_cast<std::size_t>(len < 0 ? 0 : len);
    std::string padded(n > bin.size() ? n - bin.size() : 0, '\0');
    padded.append(bin.substr(0, n - padded.size()));
    std::string out;
    out.reserve(2 * n);
    for (unsigned char b : padded) {
        out += hex_codes[(b >> 4) & mask];
        out += hex_codes[b & mask];
    }
    return out;
}

static char lower_latin1(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 192 && u <= 214) || (u >= 217 && u <= 222))
        return static_cast<char>(u + 32);
    return c;
}

int hex2code(char chr)
{
    if (chr >= '0' && chr <= '9')
        return chr - '0';
    if (chr >= 'a' && chr <= 'f')
        return chr - 'a' + 10;
    std::string message = "hexcode was called with bad char ";
    message += chr;
    message += '\n';
    cutil::report_error(message);
    std::fflush(stdout);
    return 0;
}

std::string hex_to_bin(std::string_view hex, int len)
{
    const std::size_t n = static_cast<std::size_t>(len < 0 ? 0 : len);
    std::string text(2 * n > hex.size() ? 2 * n - hex.size() : 0, '0');
    text.append(hex.substr(0, 2 * n - text.size()));
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        int part_one = hex2code(lower_latin1(text[2 * i]));
        int part_two = hex2code(lower_latin1(text[2 * i + 1]));
        out[i] = static_cast<char>((part_one << 4) | part_two);
    }
    return out;
}

} // namespace Vtpwdhdr
