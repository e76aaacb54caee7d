// Peers of the DNS-over-TLS and DNS-over-HTTPS tests, all on loopback:
// unbound serving a zone of its own (and nothing else) over UDP and, with a
// certificate of the test CA, over TLS; a second unbound whose certificate
// is for another name; a small DNS-over-HTTPS front
// (tests/support/doh_front.py) that hands each query to the first one.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "HttpTestPeers.h"

namespace dnstest {

using quovix::test::TestCa;

class DnsPeers {
 public:
  DnsPeers() {
    const std::string unbound = httptest::FindProgram("unbound");
    if (unbound.empty() || access("/usr/bin/python3", X_OK) != 0) {
      skip = "unbound or python3 is not installed (scripts/deps/dns-transport.list)";
      return;
    }
    ca_ = std::make_unique<TestCa>(dir_.Path());
    good_ = ca_->Issue("dot", "/CN=dot.quovix.test", "DNS:localhost,IP:127.0.0.1");
    other_ = ca_->Issue("other", "/CN=other.quovix.test", "DNS:other.quovix.test");
    if (!ca_->Ok() || !good_.ok || !other_.ok) {
      skip = "the test CA could not be made (openssl)";
      return;
    }
    udp = quovix::test::FreeLoopbackPort(SOCK_DGRAM);
    tls = httptest::FreePort();
    tlsOther = httptest::FreePort();
    doh = httptest::FreePort();
    dir_.Write("unbound.conf", Config(udp, tls, good_) + Zone());
    dir_.Write("other.conf", Config(httptest::FreePort(), tlsOther, other_) + Zone());
    for (auto [server, conf] : {std::pair{&unbound_, "unbound.conf"}, {&other_unbound_, "other.conf"}})
      server->Start({unbound, "-d", "-c", dir_.File(conf)}, dir_.File("unbound.log"));
    front_.Start({"/usr/bin/python3", std::string(QUOVIX_SOURCE_DIR) + "/tests/support/doh_front.py",
                  good_.chain, good_.key, std::to_string(doh), std::to_string(udp)},
                 dir_.File("front.log"));
    if (!httptest::WaitForPort(unbound_, tls) || !httptest::WaitForPort(other_unbound_, tlsOther) ||
        !httptest::WaitForPort(front_, doh))
      skip = "the peers did not start:\n" + httptest::ReadFile(dir_.File("unbound.log")) +
             httptest::ReadFile(dir_.File("front.log"));
  }
  std::string skip;
  int udp = 0, tls = 0, tlsOther = 0, doh = 0;
  std::string Ca() const { return ca_->Ca(); }
  const httptest::TempDir& Dir() const { return dir_; }

 private:
  std::string Config(int port, int tlsPort, const TestCa::Cert& cert) const {
    return "server:\n  interface: 127.0.0.1@" + std::to_string(port) + "\n  interface: 127.0.0.1@" +
           std::to_string(tlsPort) + "\n  tls-port: " + std::to_string(tlsPort) +
           "\n  tls-service-pem: " + cert.chain + "\n  tls-service-key: " + cert.key +
           "\n  port: " + std::to_string(port) +
           "\n  do-daemonize: no\n  username: \"\"\n  chroot: \"\"\n  directory: \"" + dir_.Path() +
           "\"\n  pidfile: \"\"\n  use-syslog: no\n  logfile: \"\"\n  access-control: 127.0.0.0/8 allow\n"
           "  module-config: \"iterator\"\n  num-threads: 1\n  so-reuseport: no\n"
           "remote-control:\n  control-enable: no\nserver:\n";
  }
  static std::string Zone() {
    // Every other name is answered here too (NXDOMAIN): nothing is ever
    // asked of a server elsewhere.
    return "  local-zone: \".\" static\n"
           "  local-zone: \"quovix.test.\" static\n"
           "  local-data: \"quovix.test. 300 IN SOA ns1.quovix.test. hostmaster.quovix.test. 1 7200 3600 1209600 300\"\n"
           "  local-data: \"quovix.test. 300 IN A 192.0.2.10\"\n"
           "  local-data: \"quovix.test. 300 IN MX 10 mx.quovix.test.\"\n"
           "  local-data: \"quovix.test. 300 IN TXT \\\"v=spf1 -all\\\"\"\n"
           "  local-data: \"quovix.test. 300 IN HTTPS 1 . alpn=h2 port=8443\"\n";
  }
  httptest::TempDir dir_;
  std::unique_ptr<TestCa> ca_;
  TestCa::Cert good_, other_;
  httptest::ChildProcess unbound_, other_unbound_, front_;
};

inline DnsPeers& Peers() {
  static DnsPeers peers;
  return peers;
}

// While a test runs, the client trusts the test CA alone.
struct TrustTestCa {
  TrustTestCa() { setenv("SSL_CERT_FILE", Peers().Ca().c_str(), 1); }
  ~TrustTestCa() { unsetenv("SSL_CERT_FILE"); }
};

#define SKIP_WITHOUT_PEERS() \
  if (!dnstest::Peers().skip.empty()) GTEST_SKIP() << dnstest::Peers().skip; \
  dnstest::TrustTestCa trust

}  // namespace dnstest
