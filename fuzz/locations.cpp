// A locations file edited by hand or by another tool: the reader ends, the main directory in the product's component.
#include "command/vtlocations.hpp"
#include "fuzz/check.hpp"

#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    cutil::unique_fd fd(::memfd_create("locations.dat", MFD_CLOEXEC));
    vtfuzz::require(fd.valid() && ::write(fd.get(), data, size) == static_cast<ssize_t>(size) && ::lseek(fd.get(), 0, SEEK_SET) == 0,
                    "the bytes in a memory file");
    Vtfiles::in_channel in(std::move(fd), "locations.dat");
    const Vtfiles::locations found = Vtfiles::read_locations_from(in);
    vtfuzz::require(found.main_dir.empty() || Vtfiles::tessaroul(found.main_dir) == found.main_dir,
                    "the main directory ends in the product's component");
    const auto one_field = [](const std::string& dir) { return dir.find_first_of(" \n") == std::string::npos; };
    vtfuzz::require(one_field(found.bin_dir) && one_field(found.gui_dir), "a directory is one field of one line");
    return 0;
}
