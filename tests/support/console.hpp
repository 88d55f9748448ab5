// What library code wrote on the console, the time of day of its timed lines made constant.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace vttest {

// Standard output and standard error written while `fn` ran.
struct console { std::string out, err; };
template <class F> console console_of(F&& fn)
{
    using namespace testing::internal;
    CaptureStdout();
    CaptureStderr();
    fn();
    std::string err = GetCapturedStderr();
    return {GetCapturedStdout(), err};
}

// "ERR (12:34:56):: x" becomes "ERR (T):: x", likewise the DEBUG and WARNING lines.
inline std::string timeless(const std::string& text)
{
    static const std::regex time_of_day(R"(\(\d\d:\d\d:\d\d\):: )");
    return std::regex_replace(text, time_of_day, "(T):: ");
}

} // namespace vttest
