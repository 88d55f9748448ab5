// Vtfiles: where the product is installed, recorded in "locations.dat" in the etc directory.
#pragma once

#include "command/vtstream.hpp"
#include "command/vtstrings.hpp"

#include <string>
#include <string_view>

namespace Vtfiles {

// Computed once when the program starts; computing them touches no file.
extern const std::string nullstr;       // the value of every directory without an entry
extern const std::string sep;           // the file separator
extern const std::string etc_dir;       // the product's etc directory
extern const std::string unix_location; // etc_dir + "/locations.dat"
// etc_dir + "\locations.dat": on a Unix host a file beside the etc directory whose name
// holds the backslash.
extern const std::string nt_location;

// Chosen by the caller, whatever the OS identity.
enum class location_system { LO_NT, LO_UNIX };

struct locations {
    std::string main_dir;
    std::string bin_dir;
    std::string gui_dir;
    bool operator==(const locations&) const = default;
};

// The directory made to end in the component "tessaroul".
std::string tessaroul(std::string_view directory);

// Lines "KEY dir" in any order, the last of a key winning; unknown keys and lines of fewer than
// two fields are ignored. The main directory is normalised with tessaroul. A file that cannot
// be opened or read gives three empty texts.
locations read_locations(location_system which);
// The entries of an open locations file, read to its end; a read error raises Sys_error.
locations read_locations_from(in_channel& in);
// "MAIN main", "BIN bin", "GUI gui", as given; any failure is swallowed.
void write_locations(location_system which, const std::string& main_dir, const std::string& bin_dir,
                     const std::string& gui_dir);

// The outcome of waiting for a child: exited with a code, killed or stopped by a signal.
struct process_status {
    enum class kind { exited, signaled, stopped };
    kind k;
    int value;
    // From a waitpid status word.
    static process_status of_wait(int raw);
};
// The code or signal number the status carries, whatever its kind.
int get_num_status(const process_status& status);

} // namespace Vtfiles
