// The system's name resolver and this computer's own address and name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/IpAddress.h"

namespace quovix::platform {

struct IResolver {
  virtual ~IResolver() = default;
  // Dotted text of the first IPv4 address of a host name; empty when none.
  // May block for as long as the system resolver takes.
  virtual std::string HostToIp(const std::string& name) = 0;
  // Host name registered for an IPv4 address (host byte order); empty when none.
  virtual std::string IpToHost(std::uint32_t address) = 0;
  // IPv4 address of the first interface that is up and not loopback, else
  // "127.0.0.1".
  virtual std::string OwnAddress() = 0;
  // The system's host name.
  virtual std::string SystemHostName() = 0;

  // The addresses of a host name, both families, in the order the system
  // resolver gives them (its address selection), each once; empty when none.
  // A resolver that knows only IPv4 answers with the address of HostToIp.
  virtual std::vector<IpAddress> Addresses(const std::string& name);
  // Host name registered for an address of either family (an IPv6 one by its
  // ip6.arpa entry); empty when none. A resolver that knows only IPv4 finds
  // no name for an IPv6 address.
  virtual std::string AddressToHost(const IpAddress& address);
};

// The installed resolver. Look-up workers may outlive their caller, so they
// hold a share of the resolver they use instead of a plain reference.
std::shared_ptr<IResolver> Resolver();

// Installs a replacement for the lifetime of the object (tests).
class ScopedResolver {
 public:
  explicit ScopedResolver(std::shared_ptr<IResolver> replacement);
  ~ScopedResolver();
  ScopedResolver(const ScopedResolver&) = delete;
  ScopedResolver& operator=(const ScopedResolver&) = delete;

 private:
  std::shared_ptr<IResolver> previous_;
};

}  // namespace quovix::platform
