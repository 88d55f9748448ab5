// One run of vtpasswd that changes the last user of a file of N records, beside the floor for
// the same bytes: dd reading the whole file and writing it whole with conv=fsync. Both run from
// the same private mount namespace, on the same file system, with a warm page cache; the figure
// is the median of five runs, and vtpasswd's peak RSS at each size.
#include "support/sandbox.hpp"
#include "timing.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Runs argv with the text on its standard input; answers wall time and the child's peak RSS.
vtbench::run_outcome run(const std::vector<std::string>& args, const std::string& input)
{
    vtbench::run_outcome r = vtbench::run_with_input(args, input);
    if (r.status != 0)
        std::fprintf(stderr, "%s exited with status %d\n", args[0].c_str(), r.status);
    return r;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void write_users(const std::string& path, long count)
{
    std::FILE* f = std::fopen(path.c_str(), "w");
    for (long i = 0; i < count; ++i)
        std::fprintf(f, "%-20.20s 200 %032lx %032lx %032lx %032lx\n", ("user" + std::to_string(i)).c_str(), i, i, i, i);
    std::fclose(f);
}

} // namespace

int main()
{
    if (std::string why = vttest::sandbox_unavailable(); !why.empty())
        return vtbench::cannot_measure("vtpasswd_bench", why);
    vttest::sandbox box;
    box.make_etc();
    // The sandbox stands in for the directory two levels above the etc directory.
    const std::string replaced = std::filesystem::path(VT_ETC_DIR).parent_path().parent_path();
    if (std::string why = vttest::enter_namespace(box.root(), replaced); !why.empty())
        return vtbench::cannot_measure("vtpasswd_bench", why);
    const std::string etc = VT_ETC_DIR, users = etc + "/vanto_users.dat";
    const int runs = 5;

    std::printf("%10s %14s %16s %8s %18s\n", "records", "vtpasswd (ms)", "dd fsync (ms)", "ratio", "vtpasswd RSS (KiB)");
    for (long count : {1000L, 100000L, 1000000L}) {
        write_users(users, count - 1);
        run({VTPASSWD_BINARY}, "last pw\n"); // the last user, with a known password
        std::vector<double> vt, dd;
        long rss = 0;
        for (int i = 0; i < runs; ++i) {
            vtbench::run_outcome m = run({VTPASSWD_BINARY}, "last pw pw\n");
            vt.push_back(m.seconds);
            rss = std::max(rss, m.max_rss_kib);
            dd.push_back(run({"dd", "if=" + users, "of=" + etc + "/dd.copy", "bs=1M", "conv=fsync"}, "").seconds);
        }
        ::unlink((etc + "/dd.copy").c_str());
        const double v = median(vt) * 1e3, d = median(dd) * 1e3;
        std::printf("%10ld %14.2f %16.2f %8.2f %18ld\n", count, v, d, v / d, rss);
    }
    return 0;
}
