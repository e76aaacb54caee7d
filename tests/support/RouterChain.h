// A line of network namespaces for route tests and benchmarks: a client,
// N routers and a target, joined by veth pairs, over IPv4 (198.18.k.0/24,
// the benchmarking range) and IPv6 (fd00:18:k::/64). Link k joins node k
// (0 the client, 1..N the routers) to node k+1 (N+1 the target); its left
// end is .1 (::1), its right end .2 (::2), so router k answers from
// 198.18.(k-1).2 and the target is 198.18.N.2. Only routes inside the
// chain exist: nothing sent in it can leave it. nftables tables on the
// routers make them silent, answer a share of their expiry messages only,
// or drop forwarded packets; all of it goes with the namespaces.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

namespace quovix::testsupport {

class RouterChain {
 public:
  std::vector<std::string> Nodes;  // namespace names: client, routers, target
  std::string Error;               // empty when the chain stands

  explicit RouterChain(int routers) {
    static std::atomic<int> serial{0};
    const std::string base = "qvxrc" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    for (int k = 0; k <= routers + 1; ++k) {
      const std::string name = base + "n" + std::to_string(k);
      if (!Sh("ip netns add " + name)) {
        Error = "ip netns add failed";
        return;
      }
      Nodes.push_back(name);
      Sh(Ip(k) + "link set lo up");
    }
    const int last = routers + 1;
    for (int k = 0; k < last; ++k) {
      const std::string l = "l" + std::to_string(k), r = "r" + std::to_string(k);
      const std::vector<std::string> steps = {
          Ip(k) + "link add name " + l + " type veth peer name " + r + " netns " + Nodes[k + 1],
          Ip(k) + "addr add " + V4(k, 1) + "/24 dev " + l,
          Ip(k + 1) + "addr add " + V4(k, 2) + "/24 dev " + r,
          Ip(k) + "-6 addr add " + V6(k, 1) + "/64 dev " + l + " nodad",
          Ip(k + 1) + "-6 addr add " + V6(k, 2) + "/64 dev " + r + " nodad",
          Ip(k) + "link set " + l + " up",
          Ip(k + 1) + "link set " + r + " up",
      };
      for (const auto& s : steps)
        if (!Sh(s)) {
          Error = "failed: " + s;
          return;
        }
    }
    // Node k reaches the links beyond its own two through its neighbours.
    for (int k = 0; k <= last; ++k) {
      for (int j = 0; j < last; ++j) {
        if (j == k || j == k - 1) continue;  // its own links
        const bool ahead = j > k;
        const std::string via4 = ahead ? V4(k, 2) : V4(k - 1, 1);
        const std::string via6 = ahead ? V6(k, 2) : V6(k - 1, 1);
        if (!Sh(Ip(k) + "route add 198.18." + std::to_string(j) + ".0/24 via " + via4) ||
            !Sh(Ip(k) + "-6 route add fd00:18:" + std::to_string(j) + "::/64 via " + via6)) {
          Error = "route on node " + std::to_string(k);
          return;
        }
      }
    }
    for (int k = 1; k < last; ++k) {
      const std::string x = "ip netns exec " + Nodes[k] + " sysctl -qw ";
      Sh(x + "net.ipv4.ip_forward=1");
      Sh(x + "net.ipv6.conf.all.forwarding=1");
      // Every probe gets its answer unless a test's rule drops it.
      Sh(x + "net.ipv4.icmp_ratelimit=0");
      Sh(x + "net.ipv4.icmp_ratemask=0");
      Sh(x + "net.ipv6.icmp.ratelimit=0");
    }
    Sh("ip netns exec " + Nodes[last] + " sysctl -qw net.ipv4.icmp_ratelimit=0");
    Sh("ip netns exec " + Nodes[last] + " sysctl -qw net.ipv6.icmp.ratelimit=0");
  }
  ~RouterChain() {
    for (const auto& n : Nodes) Sh("ip netns del " + n);
  }
  RouterChain(const RouterChain&) = delete;
  RouterChain& operator=(const RouterChain&) = delete;

  int Routers() const { return static_cast<int>(Nodes.size()) - 2; }
  const std::string& Client() const { return Nodes.front(); }
  const std::string& TargetNs() const { return Nodes.back(); }
  std::string Target4() const { return V4(Routers(), 2); }
  std::string Target6() const { return V6(Routers(), 2); }
  // The address router k (1..N) answers from.
  static std::string Router4(int k) { return V4(k - 1, 2); }
  static std::string Router6(int k) { return V6(k - 1, 2); }

  // Router k sends no expiry messages at all (keep 0 of 3), or drops those
  // of numgen's one residue in three (keep 2), or sends all again (keep 3).
  bool Answering(int k, int keepOfThree) {
    Sh("ip netns exec " + Nodes[k] + " nft delete table inet qvxanswer");
    if (keepOfThree >= 3) return true;
    const std::string match =
        keepOfThree <= 0 ? std::string() : std::string("numgen random mod 3 == 0 ");
    return Nft(k, "table inet qvxanswer { chain out { type filter hook output priority 0; "
                  "icmp type time-exceeded " + match + "drop; "
                  "icmpv6 type time-exceeded " + match + "drop; }; }");
  }
  // Router k drops one in three of the packets it forwards towards the
  // target (on), or none (off).
  bool LossyLink(int k, bool on) {
    Sh("ip netns exec " + Nodes[k] + " nft delete table inet qvxloss");
    if (!on) return true;
    return Nft(k, "table inet qvxloss { chain pass { type filter hook forward priority 0; "
                  "iifname \"r" + std::to_string(k - 1) + "\" numgen random mod 3 == 0 drop; }; }");
  }
  // The target answers nothing (no echo, no UDP or TCP; neighbour
  // discovery still works) when on.
  bool SilentTarget(bool on) {
    const int t = Routers() + 1;
    Sh("ip netns exec " + Nodes[t] + " nft delete table inet qvxtarget");
    if (!on) return true;
    return Nft(t, "table inet qvxtarget { chain in { type filter hook input priority 0; "
                  "icmp type echo-request drop; icmpv6 type echo-request drop; "
                  "meta l4proto { udp, tcp } drop; }; }");
  }

  // The target answers no echo request (UDP and TCP still reach it) when on.
  bool EchoFiltered(bool on) {
    const int t = Routers() + 1;
    Sh("ip netns exec " + Nodes[t] + " nft delete table inet qvxecho");
    if (!on) return true;
    return Nft(t, "table inet qvxecho { chain in { type filter hook input priority 0; "
                  "icmp type echo-request drop; icmpv6 type echo-request drop; }; }");
  }

  static std::string V4(int link, int end) {
    return "198.18." + std::to_string(link) + "." + std::to_string(end);
  }
  // In the RFC 5952 form the program writes.
  static std::string V6(int link, int end) {
    return (link == 0 ? std::string("fd00:18::") : "fd00:18:" + std::to_string(link) + "::") +
           std::to_string(end);
  }

 private:
  std::string Ip(int k) const { return "ip -n " + Nodes[k] + " "; }
  bool Nft(int k, const std::string& ruleset) const {
    return Sh("printf '%s\\n' '" + ruleset + "' | ip netns exec " + Nodes[k] + " nft -f -");
  }
  static bool Sh(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
  }
};

}  // namespace quovix::testsupport
