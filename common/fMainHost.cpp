// Host names, addresses and IDN (bounded look-ups on workers).
#include <idn2.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "common/Deadline.h"
#include "common/IpAddress.h"
#include "common/fMain.h"
#include "platform/Resolver.h"

namespace quovix {
namespace {

// The result slots of a set of look-ups. Caller and workers share them;
// whoever lets go last frees them, so a worker that answers after its caller
// stopped waiting writes into a slot nobody reads any more and never into a
// later call's.
template <class T>
struct LookupSlots {
  std::mutex mutex;
  std::condition_variable done_cv;
  std::vector<T> answers;
  std::vector<bool> done;
  size_t left = 0;
};

// Runs each work on a worker of its own and waits at most limitMs for all
// of them together; an answer not in by then, or whose work failed, is the
// empty value. The workers are never stopped: on time-out they are abandoned
// and finish alone. The wait runs in slices that let the window's messages
// run; an abort request ends it like the time limit does.
template <class T>
std::vector<T> RunAllBounded(std::vector<std::function<T()>> works, int limitMs) {
  auto slots = std::make_shared<LookupSlots<T>>();
  slots->answers.resize(works.size());
  slots->done.resize(works.size(), false);
  slots->left = works.size();
  for (size_t i = 0; i < works.size(); ++i) {
    try {
      std::thread([slots, i, work = std::move(works[i])] {
        T answer{};
        try {
          answer = work();
        } catch (...) {
          answer = T{};  // a failed look-up is an empty answer
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
  WaitSliced(Deadline::In(limitMs), [&](int sliceMs) {
    std::unique_lock<std::mutex> lock(slots->mutex);
    return slots->done_cv.wait_for(lock, std::chrono::milliseconds(sliceMs),
                                   [&] { return slots->left == 0; });
  });
  std::lock_guard<std::mutex> lock(slots->mutex);
  std::vector<T> out(works.size());
  for (size_t i = 0; i < out.size(); ++i)
    if (slots->done[i]) out[i] = std::move(slots->answers[i]);
  return out;
}

// One look-up on a worker.
template <class T>
T RunBounded(std::function<T()> work, int limitMs) {
  std::vector<std::function<T()>> works;
  works.push_back(std::move(work));
  return std::move(RunAllBounded<T>(std::move(works), limitMs).front());
}

std::string RunBoundedText(std::function<std::string()> work, int limitMs) {
  return Trim(RunBounded<std::string>(std::move(work), limitMs));
}

bool IsAsciiOnly(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

std::string ResolveHostToIp(const std::string& name, int limitMs) {
  // The worker owns copies of the name and of the resolver it asks.
  return RunBoundedText(
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
      if (name.empty()) return {};
      return ChooseAddress(resolver->Addresses(name), false).ToString();
    });
  const std::vector<std::string> answers = RunAllBounded<std::string>(std::move(works), limitMs);
  std::vector<std::string> out(names.size());
  for (size_t i = 0; i < names.size(); ++i) out[i] = Trim(answers[index[i]]);
  return out;
}

std::vector<IpAddress> ResolveHostAddresses(const std::string& name, int limitMs) {
  return RunBounded<std::vector<IpAddress>>(
      [name, resolver = platform::Resolver()]() -> std::vector<IpAddress> {
        if (name.empty()) {
          const IpAddress own = IpAddress::Parse(Trim(resolver->OwnAddress()));
          if (own.Empty()) return {};
          return {own};
        }
        return resolver->Addresses(name);
      },
      limitMs);
}

IpAddress ChooseAddress(const std::vector<IpAddress>& addresses, bool preferIPv6) {
  const IpFamily first = preferIPv6 ? IpFamily::V6 : IpFamily::V4;
  for (const IpAddress& a : addresses)
    if (a.Family() == first) return a;
  return addresses.empty() ? IpAddress() : addresses.front();
}

std::string ResolveHostToAddress(const std::string& name, int limitMs, bool preferIPv6) {
  return ChooseAddress(ResolveHostAddresses(name, limitMs), preferIPv6).ToString();
}

namespace {

// The reverse look-up a worker runs; the worker owns the resolver it asks.
std::function<std::string()> HostOfAddress(const IpAddress& parsed) {
  return [parsed, resolver = platform::Resolver()]() -> std::string {
    std::string host = resolver->AddressToHost(parsed);
    // This computer's own address is named after the computer even when
    // no resolver has a reverse entry for it.
    if (Trim(host).empty() && parsed.IsV4() &&
        IpToNumber(resolver->OwnAddress()) == parsed.V4Number())
      host = resolver->SystemHostName();
    return host;
  };
}

}  // namespace

std::string ResolveIpToHost(const std::string& address, int limitMs) {
  // Only an address is asked; a dotted one is read the same way as for range
  // look-ups, so that "010.0.0.1" means 10.0.0.1 here as everywhere else.
  const IpAddress parsed = IpAddress::Parse(address);
  if (parsed.Empty()) return {};
  return RunBoundedText(HostOfAddress(parsed), limitMs);
}

// Shared by the caller and the worker, like the slots of RunAllBounded.
struct PendingHostName::Slot {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  std::string answer;
};

PendingHostName::PendingHostName(const std::string& address)
    : slot_(std::make_shared<Slot>()) {
  const IpAddress parsed = IpAddress::Parse(address);
  if (parsed.Empty()) {
    slot_->done = true;
    return;
  }
  try {
    std::thread([slot = slot_, work = HostOfAddress(parsed)] {
      std::string answer;
      try {
        answer = Trim(work());
      } catch (...) {
        answer.clear();  // a failed look-up is an empty answer
      }
      std::lock_guard<std::mutex> lock(slot->mutex);
      slot->answer = std::move(answer);
      slot->done = true;
      slot->done_cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    slot_->done = true;  // no worker: no name
  }
}

std::string PendingHostName::Take(const Deadline& until) {
  WaitSliced(until, [&](int sliceMs) {
    std::unique_lock<std::mutex> lock(slot_->mutex);
    return slot_->done_cv.wait_for(lock, std::chrono::milliseconds(sliceMs),
                                   [&] { return slot_->done; });
  });
  std::lock_guard<std::mutex> lock(slot_->mutex);
  return slot_->done ? slot_->answer : std::string();
}

namespace {

// EncodeIdn, and the encoder's verdict on the label it refused (IDN2_OK
// when none was).
std::string EncodeIdnLabels(const std::string& name, int& verdict) {
  // Label by label: a label of ASCII characters stays exactly as typed,
  // letter case included; any other becomes its ACE form (UTS #46
  // non-transitional mapping, then IDNA2008 ToASCII).
  verdict = IDN2_OK;
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
        verdict = rc == IDN2_OK ? IDN2_ENCODING_ERROR : rc;
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

}  // namespace

std::string EncodeIdn(const std::string& name) {
  int verdict = IDN2_OK;
  return EncodeIdnLabels(name, verdict);
}

bool TryEncodeIdn(const std::string& name, std::string& idn) {
  idn = EncodeIdn(name);
  return !idn.empty() || name.empty();
}

const char* EncodeHostName(const std::string& name, std::string& idn) {
  int verdict = IDN2_OK;
  idn = EncodeIdnLabels(name, verdict);
  // A label whose ACE form would be too long is refused by the encoder
  // itself: that too is a name longer than DNS allows.
  // (its punycode does not fit the 63 octets of a label).
  if (verdict == IDN2_TOO_BIG_LABEL || verdict == IDN2_TOO_BIG_DOMAIN ||
      verdict == IDN2_PUNYCODE_BIG_OUTPUT)
    return "name_too_long";
  if (idn.empty() && !name.empty()) return "idn_not_encodable";
  std::string_view n(idn);
  if (!n.empty() && n.back() == '.') n.remove_suffix(1);
  if (n.size() > kMaxDnsName) return "name_too_long";
  for (size_t start = 0; start <= n.size();) {
    const size_t dot = std::min(n.find('.', start), n.size());
    if (dot - start > kMaxDnsLabel) return "name_too_long";
    start = dot + 1;
  }
  return nullptr;
}

}  // namespace quovix
