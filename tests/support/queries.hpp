// Questions to the library's read half written as text, "what argument": a table of "question =
// answer" lines is checked by asking each in turn, against the scripted kernel or in a namespace.
#pragma once

#include <string>
#include <vector>

namespace vttest {

// "interface ADDR", "netmask IF", "hw IF", "ping ADDR", "arp ADDR", "addresses IF" (each
// "address/netmask " of IF, sorted, or "none" when IF is not found), "entries ADDR" (ARP entries
// the kernel hands out for ADDR), "device IF ADDR", "configured IF ADDR".
std::string ask(const std::string& question);
// Each line's question with its answer, "question = answer", and what it printed in brackets
// (timed lines made constant, lines parted by " | "); one line each.
std::string answers(const std::vector<std::string>& lines);
// The lines, one each: what answers() gives when every answer is right.
std::string joined(const std::vector<std::string>& lines);

} // namespace vttest
