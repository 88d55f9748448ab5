// Any request line splits at single spaces into user, new and old password; a user name stands for itself once stored.
#include "command/vtpasswd.hpp"
#include "command/vtpwdhdr.hpp"
#include "fuzz/check.hpp"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line(vtfuzz::text_of(data, size));
    std::vector<std::string> fields{""};
    for (char c : line)
        c == ' ' ? fields.emplace_back() : fields.back() += c;
    Vtpasswd::request req;
    const bool parsed = Vtpasswd::parse_request(line, req);
    vtfuzz::require(parsed == (fields.size() >= 2), "two fields or more make a request");
    if (!parsed)
        return 0;
    vtfuzz::require(req.user == fields[0] && req.passwd == fields[1], "user and new password are the first two fields");
    vtfuzz::require(req.old_passwd == (fields.size() >= 3 ? fields[2] : ""), "the old password is the third field, or empty");
    const std::string stored = Vtpwdhdr::spaceduser(req.user);
    vtfuzz::require(stored.size() == Vtpwdhdr::max_user_length, "the name field is 20 characters");
    vtfuzz::require(Vtpasswd::stored_name(stored) == std::string_view(req.user).substr(0, Vtpwdhdr::max_user_length),
                    "the stored name reads back as the name given, cut to its field");
    return 0;
}
