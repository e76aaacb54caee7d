// PageRank tool: the toolbar ranking of a URL from one or several servers of
// the ranking service.
#include "tools/fGPRank.h"

#include <algorithm>
#include <utility>

#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Desktop.h"
#include "shell/fLanguage.h"
#include "tools/fHttpTools.h"

namespace quovix {

namespace {
constexpr int kDefaultTimeoutMs = 2000;
constexpr int kDefaultServerCount = 2;
}  // namespace

std::uint32_t UrlChecksum(const std::string& text) {
  std::uint32_t a = 5381, b = 0;
  for (unsigned char c : text) a = a * 33u + c;
  for (unsigned char c : text) b = b * 65599u + c;
  return (a & 0xF0F0u) | (b & 0x0F0Fu) | (a & 0xF0F00000u) | (b & 0x0F0F0000u);
}

char ChecksumCheckDigit(std::uint32_t value) {
  int sum = 0, count = 0;
  do {
    const int digit = static_cast<int>(value % 10);
    if (count % 2 == 0) {
      sum += digit;
    } else {
      const int doubled = digit * 2;
      sum += doubled / 10 + doubled % 10;
    }
    ++count;
    value /= 10;
  } while (value != 0);
  const int s = sum % 10;
  if (s == 0) return '0';
  int t = 10 - s;
  if (count % 2 == 1) t = t % 2 == 1 ? (t + 9) / 2 : t / 2;
  return static_cast<char>('0' + t);
}

int ParseRankAnswer(const std::string& body) {
  const std::string text = Trim(body);
  const size_t found = text.find("Rank_");
  if (found == std::string::npos) return -1;
  std::string rest = text.substr(found + 5);
  if (const size_t lf = rest.find('\n'); lf != std::string::npos && lf >= 1) rest.resize(lf);
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos) return -1;
  // The scale runs from 0 to 10: anything else is no rank, not a cut one.
  const std::string digits = Trim(rest.substr(colon + 1));
  if (digits.empty() || digits.size() > 2) return -1;
  int rank = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    rank = rank * 10 + (c - '0');
  }
  return rank <= 10 ? rank : -1;
}

std::string GPRankQueryUrl(const std::string& server, const std::string& pageUrl) {
  const std::uint32_t sum = UrlChecksum(pageUrl);
  return "http://" + server + "/tbr?client=navclient-auto&ch=7" +
         std::string(1, ChecksumCheckDigit(sum)) + std::to_string(sum) +
         "&features=Rank&q=info:" + pageUrl;
}

std::vector<std::string> GPRankBuiltinServers() {
  return {"toolbarqueries.google.com",
          "64.233.161.99",  "64.233.161.104", "64.233.163.99",  "64.233.163.104",
          "64.233.167.99",  "64.233.167.104", "64.233.169.99",  "64.233.169.104",
          "64.233.171.99",  "64.233.171.104", "64.233.179.99",  "64.233.179.104",
          "64.233.183.99",  "64.233.183.104", "64.233.187.99",  "64.233.187.104",
          "64.233.189.99",  "64.233.189.104", "66.102.7.99",    "66.102.7.104",
          "66.102.9.99",    "66.102.9.104",   "66.102.11.99",   "66.102.11.104",
          "72.14.203.99",   "72.14.203.104",  "72.14.205.99",   "72.14.205.104",
          "72.14.207.99",   "72.14.207.104",  "216.239.37.99",  "216.239.37.104",
          "216.239.39.99",  "216.239.39.104"};
}

void TfrmMain::cmbGPRankCountChange() { lvGPRankMulti.SetVisible(cmbGPRankCount.ItemIndex() > 0); }

void TfrmMain::btnGPRankStartClick() {
  if (ToolRunGuard::AbortClick(btnGPRankStart)) return;
  // The count and its label are off for the run and stay off after it: only
  // the settings choose the mode.
  lblGPRankCount.SetEnabled(false);
  cmbGPRankCount.SetEnabled(false);
  ToolRunGuard::Options run;
  run.Start = &btnGPRankStart;
  run.Inputs = {&lblGPRankURL, &cmbGPRankURL, &lblGPRankTimeout, &cmbGPRankTimeout};
  run.MainInput = &cmbGPRankURL;
  run.StatusKey = "Main|sbMainGPRankGet";
  run.StatusDefault = "Google PageRank für \"%s1%\" wird abgefragt...";
  run.StatusArg = cmbGPRankURL.Text();
  run.Abortable = true;
  ToolRunGuard guard(*this, std::move(run));
  lvGPRankMulti.Clear();
  IdHTTP.ClearResponse();
  const std::string typed = Trim(cmbGPRankURL.Text());
  if (typed.empty()) return;
  const ToolUrl parts = SplitToolUrl(typed);
  const char* refusal = nullptr;
  const std::string page = parts.Scheme + IdnHostPart(parts.Host, &refusal) + parts.Path;
  if (refusal) {
    // As every tool: a name that cannot be asked for is not asked about at all.
    SetToolResult(pgGPRank, {{"url", typed}, {"error", refusal}, {"name", parts.Host}});
    platform::Desktop().MessageBox(LangText("Main|OutGPRankTitle", "Google PageRank"),
                                   HostRefusalText(parts.Host, refusal));
    return;
  }
  const int timeout = StrToIntDef(cmbGPRankTimeout.Text(), kDefaultTimeoutMs);
  auto prepare = [&] {
    if (IdHTTP.Connected()) IdHTTP.Disconnect();
    IdHTTP.ConnectTimeout = timeout;
    IdHTTP.ReadTimeout = timeout;
    // The proxy options hold for every request, also in single mode, so a
    // proxy switched on or off in the options takes effect at once.
    ApplyProxyOptions(IdHTTP);
  };

  if (cmbGPRankCount.ItemIndex() > 0) {
    const int wanted = StrToIntDef(cmbGPRankCount.Text(), kDefaultServerCount);
    const int n = std::clamp(wanted, 0, static_cast<int>(GPRankServers.size()));
    int ranked = 0;
    for (int i = 0; i < n; ++i) {
      Pump();
      const std::string& server = GPRankServers[i];
      prepare();
      std::string body;
      try {
        body = IdHTTP.Get(GPRankQueryUrl(server, page));
      } catch (const std::exception&) {
        body.clear();
      }
      const int rank = body.empty() ? -1 : ParseRankAnswer(body);
      if (IdHTTP.Connected()) IdHTTP.Disconnect();
      lvGPRankMulti.AddRow({server, rank >= 0 ? std::to_string(rank) : "---"});
      if (rank >= 0) ++ranked;
      SetToolResult(pgGPRank, {{"url", page}, {"servers", i + 1}, {"ranked", ranked}});
      if (guard.Aborted()) break;
    }
    return;
  }

  const std::string title = LangText("Main|OutGPRankTitle", "Google PageRank");
  if (GPRankServers.empty()) return;
  prepare();
  std::string body;
  TLineFields result{{"url", page}, {"server", GPRankServers[0]}};
  try {
    body = IdHTTP.Get(GPRankQueryUrl(GPRankServers[0], page));
  } catch (const std::exception& e) {
    if (IdHTTP.Connected()) IdHTTP.Disconnect();
    // Stopped by the user (or a close request): nothing to report.
    const auto* h = dynamic_cast<const HttpError*>(&e);
    const bool stopped = h && h->kind() == HttpError::Kind::Aborted;
    const HttpFailure why = h ? DescribeHttpFailure(*h) : HttpFailure{.Unreached = true};
    result.push_back({"error", stopped ? "aborted" : why.Unreached ? "not_reachable" : "failed"});
    if (h && !stopped) result.push_back({"cause", why.Cause});
    SetToolResult(pgGPRank, std::move(result));
    if (stopped) return;
    platform::Desktop().MessageBox(
        title, !h ? LangText("Main|OutGPRankServerNotReachable",
                             "Der Google PageRank-Server ist nicht erreichbar!")
               : why.Unreached
                   ? LangText("Main|OutGPRankServerNotReachableWhy",
                              "Der Google PageRank-Server ist nicht erreichbar! (%s1%)", {why.Text})
                   : LangText("Main|OutGPRankServerFailed",
                              "Die Anfrage an den Google PageRank-Server ist fehlgeschlagen: %s1%.", {why.Text}));
    return;
  }
  const int rank = body.empty() ? -1 : ParseRankAnswer(body);
  if (rank < 0)
    result.push_back({"error", "not_available"});
  else
    result.push_back({"rank", rank});
  SetToolResult(pgGPRank, std::move(result));
  if (rank < 0) {
    platform::Desktop().MessageBox(
        title, LangText("Main|OutGPRankNotAvailable",
                        "Der Google PageRank konnte nicht ermittelt werden!"));
  } else {
    lblGPRankRank.SetCaption(std::to_string(rank));
    // Ten pixels per rank point; a rank above 10 fills the frame, no more.
    const int width = std::min(rank * (shpGPRankBack.Width / 10), shpGPRankBack.Width);
    shpGPRankFront.SetBounds(shpGPRankFront.Left, shpGPRankFront.Top, width,
                             shpGPRankFront.Height);
  }
  if (IdHTTP.Connected()) IdHTTP.Disconnect();
}

}  // namespace quovix
