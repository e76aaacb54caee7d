// Host names, addresses and IDN (bounded look-ups on workers).
#include <idn2.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/Pump.h"
#include "common/fMain.h"
#include "platform/Resolver.h"

namespace quovix {
namespace {

// The result slots of a set of look-ups. Caller and workers share them;
// whoever lets go last frees them, so a worker that answers after its caller
// stopped waiting writes into a slot nobody reads any more and never into a
// later call's.
struct LookupSlots {
  std::mutex mutex;
  std::condition_variable done_cv;
  std::vector<std::string> answers;
  std::vector<bool> done;
  size_t left = 0;
};

// Runs each work on a worker of its own and waits at most limitMs for all
// of them together; an answer not in by then is empty. The workers are never
// stopped: on time-out they are abandoned and finish alone. With pump set the
// wait runs in slices that let the window's messages run.
std::vector<std::string> RunAllBounded(std::vector<std::function<std::string()>> works,
                                       int limitMs, bool pump) {
  auto slots = std::make_shared<LookupSlots>();
  slots->answers.resize(works.size());
  slots->done.resize(works.size(), false);
  slots->left = works.size();
  for (size_t i = 0; i < works.size(); ++i) {
    try {
      std::thread([slots, i, work = std::move(works[i])] {
        std::string answer;
        try {
          answer = work();
        } catch (...) {
          answer.clear();  // a failed look-up is an empty answer
        }
        std::lock_guard<std::mutex> lock(slots->mutex);
        slots->answers[i] = std::move(answer);
        slots->done[i] = true;
        --slots->left;
        slots->done_cv.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      // No worker: that answer stays empty.
      std::lock_guard<std::mutex> lock(slots->mutex);
      --slots->left;
    }
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs > 0 ? limitMs : 0);
  std::unique_lock<std::mutex> lock(slots->mutex);
  for (;;) {
    auto until = deadline;
    if (pump) until = std::min(until, std::chrono::steady_clock::now() +
                                          std::chrono::milliseconds(kWaitSliceMs));
    if (slots->done_cv.wait_until(lock, until, [&] { return slots->left == 0; })) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    lock.unlock();
    ProcessPendingMessages();
    lock.lock();
  }
  std::vector<std::string> out(works.size());
  for (size_t i = 0; i < out.size(); ++i)
    if (slots->done[i]) out[i] = Trim(slots->answers[i]);
  return out;
}

std::string RunBounded(std::function<std::string()> work, int limitMs) {
  std::vector<std::function<std::string()>> works;
  works.push_back(std::move(work));
  return RunAllBounded(std::move(works), limitMs, false).front();
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

std::vector<std::string> ResolveHostsToIp(const std::vector<std::string>& names, int limitMs) {
  // Each distinct name is asked once; the root name (empty) stands for no
  // host here and is not asked at all.
  std::vector<std::string> distinct;
  std::vector<size_t> index(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    auto it = std::find(distinct.begin(), distinct.end(), names[i]);
    index[i] = static_cast<size_t>(it - distinct.begin());
    if (it == distinct.end()) distinct.push_back(names[i]);
  }
  std::vector<std::function<std::string()>> works;
  for (const std::string& name : distinct)
    works.push_back([name, resolver = platform::Resolver()]() -> std::string {
      return name.empty() ? std::string() : resolver->HostToIp(name);
    });
  const std::vector<std::string> answers = RunAllBounded(std::move(works), limitMs, true);
  std::vector<std::string> out(names.size());
  for (size_t i = 0; i < names.size(); ++i) out[i] = answers[index[i]];
  return out;
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

}  // namespace quovix
