// vtpasswd: sets the password of one product user.
#include "command/failure.hpp"
#include "command/vtpasswd.hpp"

#include <cstdio>
#include <new>

int main(int argc, char** argv)
{
    int status;
    try {
        status = Vtpasswd::main(argc, argv);
    } catch (const Vtfailure::failure& f) {
        std::fprintf(stderr, "Fatal error: uncaught exception %s\n", f.describe().c_str());
        status = 2;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "Fatal error: uncaught exception Out_of_memory\n");
        status = 2;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}
