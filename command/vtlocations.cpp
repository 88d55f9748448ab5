#include "command/vtlocations.hpp"

#include "command/failure.hpp"
#include "command/vtfiles.hpp"
#include "command/vtetcdir.hpp"
#include "cutil/host.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <sys/wait.h>

namespace Vtfiles {

const std::string nullstr;
const std::string sep = cutil::file_sep();
const std::string etc_dir = cutil::get_etc_directory();
const std::string unix_location = etc_dir + "/locations.dat";
const std::string nt_location = etc_dir + "\\locations.dat";

static const std::string product_component = "tessaroul";

std::string tessaroul(std::string_view directory)
{
    std::vector<std::string> fields = string_split(sep, directory);
    if (fields.back() == product_component)
        return std::string(directory);
    return std::string(directory) + sep + product_component;
}

static const std::string& path_of(location_system which)
{
    return which == location_system::LO_NT ? nt_location : unix_location;
}

locations read_locations_from(in_channel& in)
{
    locations found{nullstr, nullstr, nullstr};
    while (std::optional<std::string> line = in.read_line()) {
        std::vector<std::string> fields = string_split(" ", *line);
        if (fields.size() < 2)
            continue;
        if (fields[0] == "MAIN")
            found.main_dir = tessaroul(fields[1]);
        else if (fields[0] == "BIN")
            found.bin_dir = fields[1];
        else if (fields[0] == "GUI")
            found.gui_dir = fields[1];
    }
    return found;
}

locations read_locations(location_system which)
{
    try {
        // Non-blocking and a regular file only: a FIFO or a device put at the name would
        // otherwise hold the caller for ever, and tells nothing about the install anyway.
        in_channel in = vt_open_in_gen({open_flag::rdonly, open_flag::text, open_flag::nonblock}, 0, path_of(which));
        if (!in.is_regular_file())
            return {nullstr, nullstr, nullstr};
        locations found = read_locations_from(in);
        in.close();
        return found;
    } catch (const Vtfailure::failure&) {
        // A file that cannot be opened or read tells nothing, not even the lines already seen.
        return {nullstr, nullstr, nullstr};
    }
}

// The locations file opened for rewriting, or no descriptor. Its directory is walked as the
// etc directory is, and the file itself must be a regular file of one link: a link planted
// at its name, or a name for another file, must not get the content or lose its own.
static cutil::unique_fd open_for_rewrite(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const cutil::unique_fd dir = Vtpasswd::open_etc_directory(parent, false);
    if (!dir)
        return {};
    // Non-blocking, so that a FIFO without a reader fails at once instead of waiting.
    const std::string name = path.substr(slash + 1);
    const int how = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    cutil::unique_fd fd(::openat(dir.get(), name.c_str(), how, 0666));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)
        return {};
    if (::ftruncate(fd.get(), 0) != 0)
        return {};
    if (os_type == os_t::WinNT)
        cutil::set_permissions(path);
    return fd;
}

void write_locations(location_system which, const std::string& main_dir, const std::string& bin_dir,
                     const std::string& gui_dir)
{
    try {
        const std::string& path = path_of(which);
        cutil::unique_fd fd = open_for_rewrite(path);
        if (!fd)
            return;
        out_channel out(std::move(fd), path);
        const std::string text = "MAIN " + main_dir + "\n" + "BIN " + bin_dir + "\n" + "GUI " + gui_dir + "\n";
        out.write(text.data(), text.size());
        out.close();
    } catch (const Vtfailure::failure&) {
        // The caller has no use for the reason; the file stays as far as it got.
    } catch (const Vtpasswd::refused&) {
        // A directory that others may change gets nothing.
    }
}

process_status process_status::of_wait(int raw)
{
    if (WIFSIGNALED(raw))
        return {kind::signaled, WTERMSIG(raw)};
    if (WIFSTOPPED(raw))
        return {kind::stopped, WSTOPSIG(raw)};
    return {kind::exited, WEXITSTATUS(raw)};
}

int get_num_status(const process_status& status) { return status.value; }

} // namespace Vtfiles
