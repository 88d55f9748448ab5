// Calls the installed library as the failover service does and prints each answer; exits 1 when
// one is not the expected one. The takeover runs on the scripted kernel, needing no root.
#include "cutil/ifconf.hpp"
#include "cutil/takeover.hpp"
#include "platform/fake.hpp"

#include <arpa/inet.h>

#include <cstdio>
#include <string>

using namespace cutil;

static bool expect(const char* what, const std::string& got, const char* wanted)
{
    std::printf("%s: %s\n", what, got.c_str());
    return got == wanted;
}

int main()
{
    bool ok = expect("local interface", get_local_interface(), "lo0");
    ok = expect("netmask of lo0", get_netmask("lo0"), "255.0.0.0") && ok;
    c_ip_init();
    enqueue_released(inet_addr("192.0.2.7"));
    ok = expect("released", get_released(), "192.0.2.7") && ok;
    ok = expect("released after", get_released(), "") && ok;
    platform::fake_backend kernel;
    platform::scoped_backend scripted(kernel);
    do_take_ip("va", "192.0.2.7");
    std::string writes;
    for (const std::string& line : kernel.summaries())
        writes += line + "; ";
    const char* take = "route open; route delete 192.0.2.7; alias va 192.0.2.7/255.2";
    return expect("take", writes.substr(0, 60), take) && ok ? 0 : 1;
}
