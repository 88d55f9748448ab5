// The platform layer: FreeBSD structures and the kernel backends live beside this file.
#include "platform/backend.hpp"

namespace cutil::platform {

static backend* current = nullptr;

backend& active() { return current ? *current : native(); }

backend* set_active(backend* next)
{
    backend* previous = current;
    current = next;
    return previous;
}

} // namespace cutil::platform
