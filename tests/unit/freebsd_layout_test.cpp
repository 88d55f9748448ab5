// Built on FreeBSD only: the layouts the translation tests use are the ones this system's headers
// give, so that a figure typed wrong in them fails the build.
#include "platform/freebsd/layout.hpp"
#include "support/layouts.hpp"

static_assert(cutil::platform::native_layout
              == (sizeof(long) == 8 ? vttest::freebsd14_amd64 : vttest::freebsd14_i386));
