#include "cutil/host.hpp"

#include "cutil/report.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace cutil {

std::string get_os_type() { return "FreeBSD"; }
std::string file_sep() { return "/"; }
std::string get_etc_directory() { return VT_ETC_DIR; }

std::string set_permissions(const std::string& /*path*/)
{
    report_error("set_permissions called in Unix!");
    return "set_permissions was called in unix";
}

int call_umask(int mask)
{
    return static_cast<int>(::umask(static_cast<mode_t>(mask & 0xFFFF)));
}

// Spends a varying time in the file system: looks up a name that is usually absent. The
// lookup is what an open of a missing file costs, and it opens nothing: a link or a device
// planted at the name is never followed or opened.
static void touch_probe_file()
{
    char name[32];
    std::snprintf(name, sizeof name, "hi%d", std::rand());
    struct stat st;
    ::fstatat(AT_FDCWD, name, &st, AT_SYMLINK_NOFOLLOW);
}

static random_token jitter_token()
{
    random_token token{};
    timeval prev{};
    ::gettimeofday(&prev, nullptr);
    for (int pass = 0; pass < 32; ++pass) {
        std::srand(static_cast<unsigned>(prev.tv_usec));
        touch_probe_file();
        timeval now{};
        ::gettimeofday(&now, nullptr);
        long d = static_cast<long>(now.tv_usec) - static_cast<long>(prev.tv_usec);
        unsigned char& byte = token[pass / 2];
        byte = static_cast<unsigned char>((byte << 4) | (static_cast<unsigned long>(d) & 0xF));
        // A sleep of no time is no sleep; the call alone would cost a timer slack of ~50 µs.
        if (std::labs(d) % 2 != 0)
            ::usleep(1);
        prev = now;
    }
    return token;
}

// Fills with the kernel's generator; a short or failed read leaves the jitter alone for those bytes.
static random_token system_token()
{
    random_token token{};
    std::size_t got = 0;
    while (got < token.size()) {
        ssize_t n = ::getrandom(token.data() + got, token.size() - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return token;
}

random_token make_random()
{
    random_token token = jitter_token();
    random_token mix = system_token();
    for (std::size_t i = 0; i < token.size(); ++i)
        token[i] ^= mix[i];
    return token;
}

} // namespace cutil
