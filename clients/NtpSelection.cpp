#include "clients/NtpSelection.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "common/Deadline.h"

namespace quovix {

NtpInterval OffsetInterval(const NtpMeasure& m, std::int8_t precision) {
  const double reading = std::min(std::ldexp(1.0, std::max(-40, int{precision})), 1e-3) + 1e-6;
  const double half = m.Delay / 2 + reading;
  return {m.Offset - half, m.Offset + half};
}

std::vector<bool> Falsetickers(const std::vector<NtpInterval>& intervals, bool* agreed) {
  const std::size_t n = intervals.size();
  std::vector<bool> marked(n, false);
  if (agreed) *agreed = false;
  if (n == 0) return marked;
  // The ends of the intervals, a low end before a high end at equal values
  // so that intervals that touch count as overlapping.
  struct End {
    double Value;
    int Type;  // -1 low, +1 high
  };
  std::vector<End> ends;
  for (const NtpInterval& i : intervals) {
    ends.push_back({i.Low, -1});
    ends.push_back({i.High, +1});
  }
  std::sort(ends.begin(), ends.end(), [](const End& a, const End& b) {
    return a.Value < b.Value || (a.Value == b.Value && a.Type < b.Type);
  });
  for (std::size_t f = 0; 2 * f < n; ++f) {
    const std::size_t need = n - f;
    double low = 0, high = 0;
    bool haveLow = false, haveHigh = false;
    std::size_t chime = 0;
    for (const End& e : ends) {
      if (e.Type < 0 && ++chime >= need) {
        low = e.Value;
        haveLow = true;
        break;
      }
      if (e.Type > 0) --chime;
    }
    chime = 0;
    for (auto e = ends.rbegin(); e != ends.rend(); ++e) {
      if (e->Type > 0 && ++chime >= need) {
        high = e->Value;
        haveHigh = true;
        break;
      }
      if (e->Type < 0) --chime;
    }
    if (!haveLow || !haveHigh || low > high) continue;
    for (std::size_t i = 0; i < n; ++i)
      marked[i] = intervals[i].High < low || intervals[i].Low > high;
    if (agreed) *agreed = true;
    return marked;
  }
  return marked;
}

void QueryInParallel(std::vector<NtpServerQuery>& servers) {
  std::atomic<std::size_t> done{0};
  std::vector<std::thread> workers;
  workers.reserve(servers.size());
  for (NtpServerQuery& q : servers) {
    workers.emplace_back([&q, &done] {
      try {
        q.Time = q.Client->DateTime();
      } catch (...) {
        q.Time = 0;  // no address: the client's status says so
      }
      ++done;
    });
  }
  // The window stays alive meanwhile; the workers' own deadlines end them.
  while (done.load() < servers.size())
    if (PauseUntil(Deadline::In(10)) == WaitEnd::Aborted) break;
  for (std::thread& t : workers) t.join();
}

}  // namespace quovix
