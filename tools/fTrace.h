// The Trace tool's table of rounds: its column captions in the loaded
// language (the window's table and the console's report share them).
#pragma once

#include <string>
#include <vector>

namespace quovix {

std::vector<std::string> TraceTableCaptions();

// What the trace probes with (setting TraceMethod: 0, 1, 2; /TraceM:icmp|udp|tcp).
enum class TraceMethod { Icmp = 0, Udp = 1, Tcp = 2 };
extern TraceMethod TraceProbeMethod;
// First UDP port (default 33434) or the TCP port (default 443); 0: the default.
extern int TraceProbePort;
// "icmp", "udp" or "tcp" in any case; false for anything else.
bool ParseTraceMethod(const std::string& text, TraceMethod& out);

}  // namespace quovix
