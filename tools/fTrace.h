// The Trace tool's table of rounds: its column captions in the loaded
// language (the window's table and the console's report share them).
#pragma once

#include <string>
#include <vector>

namespace quovix {

std::vector<std::string> TraceTableCaptions();

// What the trace probes with: the item index of the method box (setting
// TraceMethod: 0, 1, 2; /TraceM:icmp|udp|tcp).
enum class TraceMethod { Icmp = 0, Udp = 1, Tcp = 2 };
// "icmp", "udp" or "tcp" in any case; false for anything else.
bool ParseTraceMethod(const std::string& text, TraceMethod& out);
// The port box's text: the first UDP port or the TCP port, 1–65535; empty
// (or 0, as settings of earlier versions store it) is the method's own
// (33434, 443). False for anything else.
bool ParseTracePort(const std::string& text, int& port);

}  // namespace quovix
