// What every benchmark here needs: timing a call many times, running a peer tool quietly, and a
// line that puts our figures beside the peer's.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
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

struct run_outcome {
    int status = -1;        // exit status, or 128 + signal
    double seconds = 0;
    long max_rss_kib = 0;
};

// Runs argv with the text on its standard input and its output discarded; answers its status,
// wall time and peak resident memory.
inline run_outcome run_with_input(const std::vector<std::string>& argv, const std::string& input)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    auto t0 = clock_type::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[0], 0);
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
    ::close(fds[0]);
    ssize_t ignored = ::write(fds[1], input.data(), input.size());
    (void)ignored;
    ::close(fds[1]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            std::chrono::duration<double>(clock_type::now() - t0).count(), usage.ru_maxrss};
}

// Runs a command to its end, output discarded; answers its exit status.
inline int run_quiet(const std::vector<std::string>& argv) { return run_with_input(argv, "").status; }

// A benchmark that cannot set itself up measured nothing: it says why and fails.
inline int cannot_measure(const char* bench, const std::string& why)
{
    std::fprintf(stderr, "%s: nothing measured: %s\n", bench, why.c_str());
    return 1;
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
