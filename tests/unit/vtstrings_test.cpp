#include "command/failure.hpp"
#include "command/vtstrings.hpp"

#include <gtest/gtest.h>

using Vtfiles::string_split;

TEST(StringHelpers, CharsOfStringReversesAndStrstrSearchesTheSet)
{
    EXPECT_EQ(Vtfiles::chars_of_string("abc"), (std::vector<char>{'c', 'b', 'a'}));
    EXPECT_EQ(Vtfiles::strstr({'/'}, "a/b/c"), 1u);
    EXPECT_EQ(Vtfiles::strstr({'x', 'c'}, "abc"), 2u);
    EXPECT_THROW(Vtfiles::strstr({'/'}, "abc"), Vtfailure::failure);
}

TEST(StringHelpers, SplitKeepsEveryEmptyField)
{
    using v = std::vector<std::string>;
    EXPECT_EQ(string_split("/", "/usr/local/"), (v{"", "usr", "local", ""}));
    EXPECT_EQ(string_split("/", ""), (v{""}));
    EXPECT_EQ(string_split("/ ", "a b/c"), (v{"a", "b", "c"}));
    EXPECT_EQ(string_split(" ", "u  p"), (v{"u", "", "p"}));
    EXPECT_EQ(string_split(" ", "a\tb"), (v{"a\tb"}));
}
