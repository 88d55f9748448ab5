#include "command/vtlocations.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

using Vtfiles::tessaroul;

TEST(Locations, ModuleValuesNameTheEtcDirectoryFiles)
{
    EXPECT_EQ(Vtfiles::nullstr, "");
    EXPECT_EQ(Vtfiles::sep, "/");
    EXPECT_EQ(Vtfiles::etc_dir, "/usr/local/etc/tessaroul");
    EXPECT_EQ(Vtfiles::unix_location, "/usr/local/etc/tessaroul/locations.dat");
    EXPECT_EQ(Vtfiles::nt_location, "/usr/local/etc/tessaroul\\locations.dat");
}

TEST(Locations, MainDirectoryIsMadeToEndInTheProductComponent)
{
    EXPECT_EQ(tessaroul("/usr/local/etc/tessaroul"), "/usr/local/etc/tessaroul");
    EXPECT_EQ(tessaroul("/opt/x"), "/opt/x/tessaroul");
    EXPECT_EQ(tessaroul("/opt/x/"), "/opt/x//tessaroul");
    EXPECT_EQ(tessaroul(""), "/tessaroul");
    EXPECT_EQ(tessaroul("tessaroul"), "tessaroul");
    EXPECT_EQ(tessaroul("/opt/tessaroul/"), "/opt/tessaroul//tessaroul");
    EXPECT_EQ(tessaroul("/opt/Tessaroul"), "/opt/Tessaroul/tessaroul");
}

TEST(Locations, NumStatusIsTheCodeOrSignalOfEveryKind)
{
    auto wait_for = [](pid_t pid, int options) {
        int raw = 0;
        waitpid(pid, &raw, options);
        return Vtfiles::process_status::of_wait(raw);
    };
    pid_t exiting = fork();
    if (exiting == 0)
        _exit(7);
    auto exited = wait_for(exiting, 0);
    EXPECT_EQ(exited.k, Vtfiles::process_status::kind::exited);
    EXPECT_EQ(Vtfiles::get_num_status(exited), 7);

    pid_t pausing = fork();
    if (pausing == 0) {
        for (;;)
            pause();
    }
    kill(pausing, SIGSTOP);
    auto stopped = wait_for(pausing, WUNTRACED);
    EXPECT_EQ(stopped.k, Vtfiles::process_status::kind::stopped);
    EXPECT_EQ(Vtfiles::get_num_status(stopped), SIGSTOP);
    kill(pausing, SIGKILL);
    auto killed = wait_for(pausing, 0);
    EXPECT_EQ(killed.k, Vtfiles::process_status::kind::signaled);
    EXPECT_EQ(Vtfiles::get_num_status(killed), SIGKILL);
}
