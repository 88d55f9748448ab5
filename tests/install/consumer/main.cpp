// Calls the installed library as the failover service does and says what it answered; the exit
// status tells whether every answer was the expected one. The takeover runs against the scripted
// kernel, as a service's own tests run it without root.
#include "cutil/ifconf.hpp"
#include "cutil/takeover.hpp"
#include "platform/fake.hpp"

#include <arpa/inet.h>

#include <cstdio>
#include <string>

static bool expect(const char* what, const std::string& got, const char* wanted)
{
    std::printf("%s: %s\n", what, got.c_str());
    return got == wanted;
}

int main()
{
    bool ok = expect("local interface", cutil::get_local_interface(), "lo0");
    ok = expect("netmask of lo0", cutil::get_netmask("lo0"), "255.0.0.0") && ok;
    cutil::c_ip_init();
    cutil::enqueue_released(inet_addr("192.0.2.7"));
    ok = expect("released", cutil::get_released(), "192.0.2.7") && ok;
    ok = expect("released after", cutil::get_released(), "") && ok;

    cutil::platform::fake_backend kernel;
    cutil::platform::scoped_backend scripted(kernel);
    cutil::do_take_ip("va", "192.0.2.7");
    std::string writes;
    for (const std::string& line : kernel.summaries())
        writes += line + "; ";
    return expect("scripted take", writes.substr(0, 60), "route open; route delete 192.0.2.7; alias va 192.0.2.7/255.2") && ok ? 0 : 1;
}
