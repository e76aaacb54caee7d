// Host names, addresses and IDN (bounded look-ups on workers).
#include <idn2.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/Deadline.h"
#include "common/fMain.h"
#include "platform/Resolver.h"

namespace quovix {
namespace {

// The result slot of one look-up. Caller and worker share it; whoever lets go
// last frees it, so a worker that answers after its caller stopped waiting
// writes into a slot nobody reads any more and never into a later call's.
struct LookupSlot {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  std::string answer;
};

// Runs work on a worker of its own and waits at most limitMs for its answer.
// (An abort request ends the wait early with the empty answer.)
// The worker is never stopped: on time-out it is abandoned and finishes alone.
std::string RunBounded(std::function<std::string()> work, int limitMs) {
  auto slot = std::make_shared<LookupSlot>();
  try {
    std::thread([slot, work = std::move(work)] {
      std::string answer;
      try {
        answer = work();
      } catch (...) {
        answer.clear();  // a failed look-up is an empty answer
      }
      std::lock_guard<std::mutex> lock(slot->mutex);
      slot->answer = std::move(answer);
      slot->done = true;
      slot->done_cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return {};  // no worker: the wait ends at once
  }
  // In slices with the window's messages between them; an abort request
  // ends the wait like the time limit does.
  WaitSliced(Deadline::In(limitMs), [&](int sliceMs) {
    std::unique_lock<std::mutex> lock(slot->mutex);
    return slot->done_cv.wait_for(lock, std::chrono::milliseconds(sliceMs),
                                  [&] { return slot->done; });
  });
  std::lock_guard<std::mutex> lock(slot->mutex);
  return slot->done ? Trim(slot->answer) : std::string();
}

bool IsAsciiOnly(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

std::string ResolveHostToIp(const std::string& name, int limitMs) {
  // The worker owns copies of the name and of the resolver it asks.
  return RunBounded(
      [name, resolver = platform::Resolver()]() -> std::string {
        // The empty name stands for this computer itself.
        if (name.empty()) return resolver->OwnAddress();
        return resolver->HostToIp(name);
      },
      limitMs);
}

std::string ResolveIpToHost(const std::string& address, int limitMs) {
  // Only a dotted address is asked, converted the same way as for range
  // look-ups so that "010.0.0.1" means 10.0.0.1 here as everywhere else.
  if (IsHostName(address)) return {};
  const std::uint32_t number = IpToNumber(address);
  return RunBounded(
      [number, address, resolver = platform::Resolver()]() -> std::string {
        std::string host = resolver->IpToHost(number);
        // This computer's own address is named after the computer even when
        // no resolver has a reverse entry for it.
        if (Trim(host).empty() && IpToNumber(resolver->OwnAddress()) == number)
          host = resolver->SystemHostName();
        return host;
      },
      limitMs);
}

std::string EncodeIdn(const std::string& name) {
  // Label by label: a label of ASCII characters stays exactly as typed,
  // letter case included; any other becomes its ACE form (UTS #46
  // non-transitional mapping, then IDNA2008 ToASCII).
  std::string out;
  size_t start = 0;
  for (;;) {
    size_t dot = name.find('.', start);
    std::string label = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (IsAsciiOnly(label)) {
      out += label;
    } else if (label.find('\0') != std::string::npos) {
      return {};
    } else {
      char* ace = nullptr;
      int rc = idn2_to_ascii_8z(label.c_str(), &ace, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
      if (rc != IDN2_OK || !ace) {
        idn2_free(ace);
        return {};
      }
      out += ace;
      idn2_free(ace);
    }
    if (dot == std::string::npos) break;
    out += '.';
    start = dot + 1;
  }
  return out;
}

bool TryEncodeIdn(const std::string& name, std::string& idn) {
  idn = EncodeIdn(name);
  return !idn.empty() || name.empty();
}

}  // namespace quovix
