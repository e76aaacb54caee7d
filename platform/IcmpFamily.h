// What differs between ICMP and ICMPv6 on the wire and at the socket, as one
// table per family (Icmp4.cpp, Icmp6.cpp); the echo exchange in Icmp.cpp is
// written once against it.
#pragma once

#include <linux/errqueue.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "common/IpAddress.h"
#include "platform/Icmp.h"

namespace quovix::platform::detail {

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// An echo message of the given type that belongs to the probe.
inline bool IsEchoOf(const std::uint8_t* icmp, std::size_t len, std::uint8_t type,
                     const IcmpProbe& probe, bool checkId) {
  if (len < 8 || icmp[0] != type || icmp[1] != 0) return false;
  if (checkId && Get16(icmp + 4) != probe.Id) return false;
  return probe.AnySequence || Get16(icmp + 6) == probe.Sequence;
}

// A datagram socket's answer: ICMP header and data, no IP header; the
// identifier is checked when the probe has one.
IcmpParsed ParseDgramEcho(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe,
                          std::uint8_t replyType);

// What the control data of one received message told.
struct ControlData {
  int Ttl = -1;                 // time-to-live / hop limit of the answer
  bool HaveExtErr = false;      // an error-queue entry
  sock_extended_err ExtErr{};
  IpAddress Offender;           // the node that sent the ICMP error
};

struct IcmpFamilyOps {
  int Domain;                   // AF_INET, AF_INET6
  int Protocol;                 // IPPROTO_ICMP, IPPROTO_ICMPV6
  std::uint8_t EchoRequest;     // message type of a request
  bool KernelChecksum;          // the kernel fills in the checksum on every socket kind
  std::uint8_t IcmpOrigin;      // ee_origin of an error-queue entry from an ICMP message
  // Sets hop limit, receive options and (raw) the message filter.
  void (*Configure)(int fd, bool raw, int ttl);
  // Sets the hop limit of the next requests.
  void (*SetTtl)(int fd, int ttl);
  IcmpParsed (*ParseRaw)(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe);
  IcmpParsed (*ParseDgram)(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe);
  bool (*ErrorQueueMatches)(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe);
  int (*StatusForError)(int type, int code);
  IcmpUnreachable (*UnreachableForError)(int type, int code);
  // Takes one control message of the family's level; false when it is none
  // of those the exchange reads.
  bool (*ReadControl)(const cmsghdr* c, ControlData& out);
};

const IcmpFamilyOps& Icmp4Ops();
const IcmpFamilyOps& Icmp6Ops();

// Takes a control message of the given level: the time-to-live (hop limit)
// of type ttlType, the extended error of type errType with the offender's
// address behind it. False for any other message.
bool ReadControlOf(const cmsghdr* c, ControlData& out, int level, int ttlType, int errType);

}  // namespace quovix::platform::detail
