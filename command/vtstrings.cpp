#include "command/vtstrings.hpp"

#include "command/failure.hpp"

#include <algorithm>

namespace Vtfiles {

std::vector<char> chars_of_string(std::string_view text)
{
    return std::vector<char>(text.rbegin(), text.rend());
}

static std::size_t find_in_set(const std::vector<char>& set, std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i)
        if (std::find(set.begin(), set.end(), text[i]) != set.end())
            return i;
    return std::string_view::npos;
}

std::size_t strstr(const std::vector<char>& set, std::string_view text)
{
    std::size_t i = find_in_set(set, text);
    if (i == std::string_view::npos)
        throw Vtfailure::not_found();
    return i;
}

std::vector<std::string> string_split(std::string_view separators, std::string_view text)
{
    const std::vector<char> set = chars_of_string(separators);
    std::vector<std::string> fields;
    for (;;) {
        std::size_t i = find_in_set(set, text);
        if (i == std::string_view::npos) {
            fields.emplace_back(text);
            return fields;
        }
        fields.emplace_back(text.substr(0, i));
        text.remove_prefix(i + 1);
    }
}

} // namespace Vtfiles
