// What every benchmark here needs: timing a call many times, running a peer tool quietly, and a
// line that puts our figures beside the peer's.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace vtbench {

using clock_type = std::chrono::steady_clock;

struct figures {
    double median_ms = 0, p99_ms = 0, max_ms = 0;
};

inline figures summarise(std::vector<double> ms)
{
    if (ms.empty())
        return {};
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<std::size_t>(q * static_cast<double>(ms.size())))]; };
    return {at(0.5), at(0.99), ms.back()};
}

inline figures measure(int runs, const std::function<void()>& once)
{
    std::vector<double> ms;
    ms.reserve(static_cast<std::size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        auto t0 = clock_type::now();
        once();
        ms.push_back(std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
    }
    return summarise(std::move(ms));
}

// Runs a command to its end, output discarded; answers its exit status.
inline int run_quiet(const std::vector<std::string>& argv)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string line(const char* what, const figures& ours, const char* peer_name, const figures& peer)
{
    char text[512];
    std::snprintf(text, sizeof text, "%-34s median %8.3f ms  p99 %8.3f ms | %-28s median %8.3f ms  p99 %8.3f ms | ratio %6.2fx\n",
                  what, ours.median_ms, ours.p99_ms, peer_name, peer.median_ms, peer.p99_ms,
                  ours.median_ms > 0 ? peer.median_ms / ours.median_ms : 0.0);
    return text;
}

} // namespace vtbench
