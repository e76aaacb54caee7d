// Received ICMP packets are untrusted: every reader must stay inside the
// buffer whatever the lengths inside claim.
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/Icmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  quovix::platform::IcmpProbe probe;
  std::memcpy(&probe.Target, data, 4);
  probe.Id = static_cast<uint16_t>(data[4] << 8 | data[5]);
  probe.Sequence = static_cast<uint16_t>(data[6] << 8 | data[7]);
  // An exact-size copy so reading one byte too far is caught.
  std::vector<uint8_t> packet(data + 8, data + size);
  const uint8_t* p = packet.empty() ? nullptr : packet.data();
  auto raw = quovix::platform::ParseRawIcmp(p, packet.size(), probe);
  if (raw.Matched && raw.DataOffset + raw.DataSize > packet.size()) __builtin_trap();
  auto dgram = quovix::platform::ParseDgramIcmp(p, packet.size(), probe);
  if (dgram.Matched && dgram.DataOffset + dgram.DataSize > packet.size()) __builtin_trap();
  quovix::platform::ErrorQueueMatches(p, packet.size(), probe);
  // ICMPv6: the target is the probe's four bytes repeated.
  for (int i = 0; i < 16; ++i) probe.Target6[i] = data[i % 4];
  auto raw6 = quovix::platform::ParseRawIcmp6(p, packet.size(), probe);
  if (raw6.Matched && raw6.DataOffset + raw6.DataSize > packet.size()) __builtin_trap();
  auto dgram6 = quovix::platform::ParseDgramIcmp6(p, packet.size(), probe);
  if (dgram6.Matched && dgram6.DataOffset + dgram6.DataSize > packet.size()) __builtin_trap();
  quovix::platform::ErrorQueueMatches6(p, packet.size(), probe);
  return 0;
}
