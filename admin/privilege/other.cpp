// Kernels without capabilities grant the changes and the packet devices to the superuser.
#include "admin/handlers.hpp"

#include <unistd.h>

namespace Vtnet {

std::string missing_privileges(unsigned needs)
{
    return needs == needs_nothing || ::geteuid() == 0 ? std::string() : "root";
}

} // namespace Vtnet
