// Calls the installed library as the failover service does and says what it answered; the exit
// status tells whether every answer was the expected one.
#include "cutil/ifconf.hpp"
#if __has_include("cutil/takeover.hpp")
#include "cutil/takeover.hpp"
#include <arpa/inet.h>
#endif

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
#if __has_include("cutil/takeover.hpp")
    cutil::c_ip_init();
    cutil::enqueue_released(inet_addr("192.0.2.7"));
    ok = expect("released", cutil::get_released(), "192.0.2.7") && ok;
    ok = expect("released after", cutil::get_released(), "") && ok;
#endif
    return ok ? 0 : 1;
}
