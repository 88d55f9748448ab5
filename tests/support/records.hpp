// Password records laid out by hand and digests made by an independent tool, so that the tests
// never take the code under test as their own oracle.
#pragma once

#include "support/pipes.hpp"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace vttest {

// One 157-byte line, field by field.
inline std::string record(const std::string& user, int number, const std::string& salt, const std::string& md5,
                          const std::string& hidesalt, const std::string& secret)
{
    char head[32];
    std::snprintf(head, sizeof head, "%-20.20s %03d ", user.c_str(), number);
    return head + salt + " " + md5 + " " + hidesalt + " " + secret + "\n";
}

// number + 1 rounds of `openssl dgst -md5 -binary` over passwd followed by the raw salt, as hex.
inline std::string openssl_iterated_md5(const std::string& passwd, const std::string& salt_hex, int number)
{
    char dir[] = "/tmp/vtmd5.XXXXXX";
    if (!::mkdtemp(dir))
        return "no scratch directory";
    {
        std::ofstream v(std::string(dir) + "/v", std::ios::binary);
        v << passwd;
        for (std::size_t i = 0; i + 1 < salt_hex.size(); i += 2)
            v.put(static_cast<char>(std::stoi(salt_hex.substr(i, 2), nullptr, 16)));
    }
    const std::string script = "cd " + std::string(dir) + " && i=0; while [ $i -le " + std::to_string(number) +
                               " ]; do openssl dgst -md5 -binary < v > w && mv w v; i=$((i+1)); done;"
                               " od -An -tx1 v | tr -d ' \\n'; rm -rf " + dir;
    return output_of(script);
}

} // namespace vttest
