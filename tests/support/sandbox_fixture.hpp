// A test with a sandbox of its own (see sandbox.hpp), skipped where none can be made.
#pragma once

#include "support/sandbox.hpp"

#include <gtest/gtest.h>

namespace vttest {

class sandbox_test : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = sandbox_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        box.make_etc();
    }
    sandbox box;
};

} // namespace vttest
