// The external-address service's answer: any body gives a defined result.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/fOwn.h"

using namespace quovix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  ExternalAddress a;
  const bool ok = ParseExternalAddressBody(body, a);
  if (ok == a.Address.empty()) __builtin_trap();
  if (a.Address.size() > 256 || a.Proxy.size() > 256 || a.HostName.size() > 256) __builtin_trap();
  if (a.Address.find('\n') != std::string::npos || a.Proxy.find('\n') != std::string::npos ||
      a.HostName.find('\n') != std::string::npos)
    __builtin_trap();
  return 0;
}
