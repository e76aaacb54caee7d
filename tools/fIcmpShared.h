// Pieces the Ping and Trace tools share: finding the address of the entered
// host for the information block, the reason of an unreachable answer, and
// the line that explains a missing ICMP socket.
#pragma once

#include <string>

#include "app/Controls.h"

namespace quovix {

class TfrmMain;
struct IcmpEchoResult;
enum class IcmpUnreachable : unsigned char;

// Name and address of the entered target, as the information block shows them.
struct IcmpTarget {
  std::string Address;   // the address to send to
  std::string HostName;  // empty when none was found
  bool Found = true;     // false: a host name without an address
};

// The resolving part of the information block: writes the IDN line when the
// encoded form differs, then finds name and address of the (encoded) target
// with the name-resolution limit of the settings. An entered address stays
// the address sent to (an IPv6 literal in its RFC 5952 form), whatever its
// reverse name resolves to; "???" stands for a missing name. A host name is
// sent to its IPv4 address, else its IPv6 one (the other way round with
// preferIPv6). A host name without an address gets the red line and Found
// false.
IcmpTarget ResolveIcmpTarget(TfrmMain& form, TRichEdit& pane, const std::string& target,
                             const std::string& idn, bool preferIPv6);

// The reason of an unreachable answer as the output lines name it.
std::string UnreachableText(IcmpUnreachable reason);
// The same reason as a fixed word for scripts ("network", "host", "port",
// "no_route"...), whatever the language.
const char* UnreachableReason(IcmpUnreachable reason);

// Writes, once per run, the red line that tells why no ICMP socket could be
// opened when an echo reports that. reported is the run's flag.
void ReportIcmpNoService(TfrmMain& form, TRichEdit& pane, const IcmpEchoResult& echo,
                         bool& reported);

}  // namespace quovix
