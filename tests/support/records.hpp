// Password records built by hand and digests made by an independent tool, so that the tests
// never take the code under test as their own oracle.
#pragma once

#include <string>
#include <vector>

namespace vttest {

// One 157-byte line, laid out field by field.
std::string record(const std::string& user, int number, const std::string& salt, const std::string& md5,
                   const std::string& hidesalt, const std::string& secret);
// A record with a recognisable filler in each hex field.
std::string filler_record(const std::string& user, int index);
// A record whose md5 field is the digest of passwd with this salt, count rounds + 1.
std::string record_with_password(const std::string& user, const std::string& passwd, int count,
                                 const std::string& salt_hex);
// number + 1 rounds of `openssl dgst -md5 -binary` over passwd followed by the raw salt, as hex.
std::string openssl_iterated_md5(const std::string& passwd, const std::string& salt_hex, int number);

// The 157-byte lines of a file (a short tail counts as one more line).
std::vector<std::string> lines_of(const std::string& content);

} // namespace vttest
