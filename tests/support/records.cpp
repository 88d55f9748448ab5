#include "support/records.hpp"

#include "support/pipes.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace vttest {

std::string record(const std::string& user, int number, const std::string& salt, const std::string& md5,
                   const std::string& hidesalt, const std::string& secret)
{
    char head[32];
    std::snprintf(head, sizeof head, "%-20.20s %03d ", user.c_str(), number);
    return head + salt + " " + md5 + " " + hidesalt + " " + secret + "\n";
}

std::string filler_record(const std::string& user, int index)
{
    char hex[40];
    std::snprintf(hex, sizeof hex, "%032x", index);
    std::string h = hex;
    return record(user, 200, h, h, h, h);
}

static std::string hex_decode(const std::string& hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string openssl_iterated_md5(const std::string& passwd, const std::string& salt_hex, int number)
{
    char dir[] = "/tmp/vtmd5.XXXXXX";
    if (!::mkdtemp(dir))
        throw std::runtime_error("mkdtemp");
    const std::string d = dir;
    std::ofstream(d + "/v", std::ios::binary) << passwd << hex_decode(salt_hex);
    const std::string script = "cd " + d + " && i=0; while [ $i -le " + std::to_string(number) +
                               " ]; do openssl dgst -md5 -binary < v > w && mv w v; i=$((i+1)); done;"
                               " od -An -tx1 v | tr -d ' \\n'; rm -rf " + d;
    return output_of(script);
}

std::string record_with_password(const std::string& user, const std::string& passwd, int count,
                                 const std::string& salt_hex)
{
    const std::string md5 = openssl_iterated_md5(passwd, salt_hex, count);
    return record(user, count, salt_hex, md5, std::string(32, '7'), std::string(32, '8'));
}

std::vector<std::string> lines_of(const std::string& content)
{
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < content.size(); i += 157)
        lines.push_back(content.substr(i, 157));
    return lines;
}

} // namespace vttest
