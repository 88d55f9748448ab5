// The library's read half as "question = answer" lines, checked by asking each.
#pragma once

#include <string>
#include <vector>

namespace vttest {

// Each line's "question = answer" and what it printed in brackets (timeless, lines parted by " | ").
// Questions: "interface ADDR", "netmask IF", "hw IF", "ping ADDR", "arp ADDR", "addresses IF" (sorted
// "address/netmask ", or "none"), "entries ADDR" (ARP entries handed out for ADDR), "device IF ADDR",
// "configured IF ADDR".
std::string answers(const std::vector<std::string>& lines);
// Lines parted by " | " rather than ended, the time of day made constant.
std::string one_line(std::string text);
// The lines, one each: what answers() gives when every answer is right.
std::string joined(const std::vector<std::string>& lines);

} // namespace vttest
