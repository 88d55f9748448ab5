// The small string helpers shared by the command and the locations file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Vtfiles {

// The characters of the text, last character first; callers use it as a set.
std::vector<char> chars_of_string(std::string_view text);
// Index of the first character of the text that is in the set; raises Not_found when none.
std::size_t strstr(const std::vector<char>& set, std::string_view text);
// Every separator character ends a field: adjacent separators give empty fields, and the
// answer is never empty.
std::vector<std::string> string_split(std::string_view separators, std::string_view text);

} // namespace Vtfiles
