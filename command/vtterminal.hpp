// The request line holds passwords: a terminal does not show it while it is typed.
#pragma once

namespace Vtpasswd {

// While it lives, a terminal on fd echoes only the line's end. Its settings come back when it
// ends, and before a signal ends or stops the process; on anything but a terminal it does nothing.
class echo_off {
public:
    explicit echo_off(int fd);
    echo_off(const echo_off&) = delete;
    echo_off& operator=(const echo_off&) = delete;
    ~echo_off();
};

} // namespace Vtpasswd
