#include "command/vtlocations.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <utility>

TEST(Locations, MainDirectoryIsMadeToEndInTheProductComponent)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/local/etc/tessaroul", "/usr/local/etc/tessaroul"},
        {"tessaroul", "tessaroul"},
        {"/opt/x", "/opt/x/tessaroul"},
        {"/opt/x/", "/opt/x//tessaroul"},
        {"", "/tessaroul"},
        {"/opt/Tessaroul", "/opt/Tessaroul/tessaroul"},
    };
    for (const auto& [dir, expected] : cases)
        EXPECT_EQ(Vtfiles::tessaroul(dir), expected) << dir;
}

TEST(Locations, NumStatusIsTheCodeOrSignalOfEveryKind)
{
    using kind = Vtfiles::process_status::kind;
    auto expect_status = [](pid_t pid, int options, kind k, int value) {
        int raw = 0;
        ASSERT_EQ(waitpid(pid, &raw, options), pid);
        auto status = Vtfiles::process_status::of_wait(raw);
        EXPECT_EQ(status.k, k);
        EXPECT_EQ(Vtfiles::get_num_status(status), value);
    };
    pid_t exiting = fork();
    if (exiting == 0)
        _exit(7);
    expect_status(exiting, 0, kind::exited, 7);
    pid_t pausing = fork();
    if (pausing == 0) {
        for (;;)
            pause();
    }
    kill(pausing, SIGSTOP);
    expect_status(pausing, WUNTRACED, kind::stopped, SIGSTOP);
    kill(pausing, SIGKILL);
    expect_status(pausing, 0, kind::signaled, SIGKILL);
}
