// The external-address service: what a web service at a configured address
// reports about the computer that asks it.
#pragma once

#include <string>

#include "tools/fHttpTools.h"

namespace quovix {

class HttpClient;

// One answer of the service. Its body is plain text, lines separated by LF:
// the asking computer's address, a proxy that forwarded the request (empty
// when none), the host name of the address (may be empty or equal to it).
struct ExternalAddress {
  std::string Address;
  std::string Proxy;
  std::string HostName;
};

// Reads a body; false when its first line is no IP address (an error page,
// an empty body), which counts as no answer. Each value is trimmed and cut
// to 256 bytes; further lines are ignored.
bool ParseExternalAddressBody(const std::string& body, ExternalAddress& out);

// Asks the service at url with the client as its proxy parameters stand:
// disconnected before and after, 5000 ms to connect and per read. False on
// any failure of the request or an unusable body; why (when given) then
// says how the request failed, or stays empty when the body was unusable.
bool FetchExternalAddress(HttpClient& http, const std::string& url, ExternalAddress& out,
                          HttpFailure* why = nullptr);

}  // namespace quovix
