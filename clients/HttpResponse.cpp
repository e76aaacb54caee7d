#include "clients/HttpResponse.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>

#include "common/DateTime.h"
#include "platform/Clock.h"
#include "common/fMain.h"

namespace quovix {

HttpError HttpError::SocketError(int code, const std::string& text) {
  return HttpError(Kind::Socket, "Socket Error # " + std::to_string(code) + "\r\n" + text, code);
}

HttpError HttpError::Malformed(const std::string& what) {
  return HttpError(Kind::Protocol, "Invalid HTTP response: " + what);
}

HttpError HttpError::Aborted() { return HttpError(Kind::Aborted, "Aborted by the user."); }

// ---- HttpReader -----------------------------------------------------------------

bool HttpReader::Fill() {
  // Drop what was consumed before the buffer grows again.
  if (pos_ > 0 && (pos_ == buf_.size() || pos_ >= 65536)) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  char chunk[16384];
  const size_t n = src_.Read(chunk, sizeof chunk);
  if (n == 0) return false;
  buf_.append(chunk, n);
  return true;
}

std::string HttpReader::ReadLine(size_t maxLength) {
  size_t scanned = pos_;
  for (;;) {
    const size_t lf = buf_.find('\n', scanned);
    if (lf != std::string::npos) {
      size_t end = lf;
      if (end > pos_ && buf_[end - 1] == '\r') --end;
      if (end - pos_ > maxLength) throw HttpError::Malformed("line too long");
      std::string line = buf_.substr(pos_, end - pos_);
      pos_ = lf + 1;
      return line;
    }
    // One byte more than the limit may still be the CR of a line end.
    if (buf_.size() - pos_ > maxLength + 1) throw HttpError::Malformed("line too long");
    // Everything buffered has been searched; Fill may move the buffer.
    const size_t searched = buf_.size() - pos_;
    if (!Fill())
      throw HttpError(HttpError::Kind::Closed, "Connection Closed Gracefully.");
    scanned = pos_ + searched;
  }
}

void HttpReader::ReadExact(std::string& out, size_t n) {
  while (n > 0) {
    if (pos_ == buf_.size() && !Fill())
      throw HttpError(HttpError::Kind::Closed, "Connection Closed Gracefully.");
    const size_t take = std::min(n, buf_.size() - pos_);
    out.append(buf_, pos_, take);
    pos_ += take;
    n -= take;
  }
}

void HttpReader::ReadToClose(std::string& out, size_t cap) {
  for (;;) {
    const size_t avail = buf_.size() - pos_;
    if (out.size() + avail > cap) throw HttpError::Malformed("body too large");
    out.append(buf_, pos_, avail);
    pos_ = buf_.size();
    if (!Fill()) return;
  }
}

// ---- Head ----------------------------------------------------------------------------

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string HeaderName(const std::string& raw) {
  const size_t colon = raw.find(':');
  return colon == std::string::npos ? std::string() : raw.substr(0, colon);
}

std::string HeaderValue(const std::string& raw) {
  const size_t colon = raw.find(':');
  return colon == std::string::npos ? std::string() : Trim(raw.substr(colon + 1));
}

// Reads header lines up to the empty line; lines that are no header are
// skipped, folded continuation lines join the header before them.
void ReadHeaderBlock(HttpReader& in, std::vector<std::string>* headers, const HttpLimits& limits) {
  int count = 0;
  for (;;) {
    // Control characters a server sends inside a line never reach the display.
    const std::string line = MaskControls(in.ReadLine(limits.MaxLineLength));
    if (line.empty()) return;
    if (++count > limits.MaxHeaderLines)
      throw HttpError::Malformed("more than " + std::to_string(limits.MaxHeaderLines) +
                                 " header lines");
    if (!headers) continue;
    if (line[0] == ' ' || line[0] == '\t') {
      if (!headers->empty()) {
        const std::string more = Trim(line);
        if (!more.empty()) headers->back() += " " + more;
      }
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = Trim(line.substr(0, colon));
    if (name.empty()) continue;
    headers->push_back(name + ": " + Trim(line.substr(colon + 1)));
  }
}

}  // namespace

std::string HttpResponseHead::Value(const std::string& name) const {
  for (const auto& h : RawHeaders)
    if (SameTextAscii(HeaderName(h), name)) return HeaderValue(h);
  return {};
}

bool HttpResponseHead::Has(const std::string& name) const {
  for (const auto& h : RawHeaders)
    if (SameTextAscii(HeaderName(h), name)) return true;
  return false;
}

std::vector<std::string> HttpResponseHead::Values(const std::string& name) const {
  std::vector<std::string> out;
  for (const auto& h : RawHeaders)
    if (SameTextAscii(HeaderName(h), name)) out.push_back(HeaderValue(h));
  return out;
}

bool ParseStatusLine(const std::string& line, int& code) {
  // "HTTP/" digits "." digits, blank(s), three digits, then a blank or the end.
  if (line.compare(0, 5, "HTTP/") != 0) return false;
  size_t i = 5;
  const size_t majorStart = i;
  while (i < line.size() && IsDigit(line[i])) ++i;
  if (i == majorStart || i - majorStart > 3 || i >= line.size() || line[i] != '.') return false;
  const size_t minorStart = ++i;
  while (i < line.size() && IsDigit(line[i])) ++i;
  if (i == minorStart || i - minorStart > 3) return false;
  if (i >= line.size() || line[i] != ' ') return false;
  while (i < line.size() && line[i] == ' ') ++i;
  if (i + 3 > line.size() || !IsDigit(line[i]) || !IsDigit(line[i + 1]) || !IsDigit(line[i + 2]))
    return false;
  if (i + 3 < line.size() && line[i + 3] != ' ') return false;
  code = (line[i] - '0') * 100 + (line[i + 1] - '0') * 10 + (line[i + 2] - '0');
  return code >= 100 && code <= 599;
}

void ReadResponseHead(HttpReader& in, HttpResponseHead& head, const HttpLimits& limits) {
  for (int interim = 0;; ++interim) {
    head = HttpResponseHead{};
    std::string line = in.ReadLine(limits.MaxLineLength);
    int code = 0;
    if (!ParseStatusLine(line, code)) throw HttpError::Malformed("malformed status line");
    head.ResponseCode = code;
    head.ResponseText = MaskControls(line);
    // A 1xx other than 101 only announces the real response.
    const bool isInterim = code >= 100 && code < 200 && code != 101;
    ReadHeaderBlock(in, &head.RawHeaders, limits);
    if (!isInterim) {
      head.Complete = true;
      return;
    }
    if (interim + 1 >= limits.MaxInterimResponses)
      throw HttpError::Malformed("too many interim responses");
  }
}

bool ResponseHasBody(const std::string& method, int code) {
  if (method == "HEAD") return false;
  return !((code >= 100 && code < 200) || code == 204 || code == 304);
}

namespace {

// Last transfer coding of Transfer-Encoding is "chunked".
bool IsChunked(const HttpResponseHead& head) {
  const auto values = head.Values("Transfer-Encoding");
  if (values.empty()) return false;
  std::string last = values.back();
  const size_t comma = last.rfind(',');
  if (comma != std::string::npos) last = last.substr(comma + 1);
  return SameTextAscii(Trim(last), "chunked");
}

bool ParseDecimal(const std::string& s, std::uint64_t& out) {
  if (s.empty() || s.size() > 19) return false;
  out = 0;
  for (char c : s) {
    if (!IsDigit(c)) return false;
    out = out * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

void ReadChunked(HttpReader& in, std::string& body, const HttpLimits& limits) {
  for (;;) {
    std::string line = in.ReadLine(limits.MaxLineLength);
    if (const size_t semi = line.find(';'); semi != std::string::npos) line.resize(semi);
    line = Trim(line);
    if (line.empty() || line.size() > 16) throw HttpError::Malformed("invalid chunk size");
    std::uint64_t size = 0;
    for (char c : line) {
      int v;
      if (c >= '0' && c <= '9') v = c - '0';
      else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
      else throw HttpError::Malformed("invalid chunk size");
      size = size * 16 + static_cast<unsigned>(v);
    }
    if (size == 0) break;
    if (size > limits.MaxBodyBytes - body.size()) throw HttpError::Malformed("body too large");
    in.ReadExact(body, static_cast<size_t>(size));
    if (!in.ReadLine(limits.MaxLineLength).empty())
      throw HttpError::Malformed("chunk not followed by a line end");
  }
  // Trailer fields are read and dropped.
  ReadHeaderBlock(in, nullptr, limits);
}

}  // namespace

std::string ReadResponseBody(HttpReader& in, const HttpResponseHead& head,
                             const HttpLimits& limits) {
  std::string body;
  if (IsChunked(head)) {
    ReadChunked(in, body, limits);
    return body;
  }
  if (!head.Has("Transfer-Encoding")) {
    const auto lengths = head.Values("Content-Length");
    if (!lengths.empty()) {
      std::uint64_t length = 0;
      for (size_t i = 0; i < lengths.size(); ++i) {
        std::uint64_t v = 0;
        if (!ParseDecimal(lengths[i], v) || (i > 0 && v != length))
          throw HttpError::Malformed("invalid Content-Length");
        length = v;
      }
      if (length > limits.MaxBodyBytes) throw HttpError::Malformed("body too large");
      in.ReadExact(body, static_cast<size_t>(length));
      return body;
    }
  }
  in.ReadToClose(body, limits.MaxBodyBytes);
  return body;
}

// ---- Dates ---------------------------------------------------------------------------

namespace {

int MonthNumber(const std::string& token) {
  static const char* const kMonths[] = {"january", "february", "march",     "april",
                                        "may",     "june",     "july",      "august",
                                        "september", "october", "november", "december"};
  const std::string t = LowerAscii(token);
  if (t.size() < 3) return 0;
  for (int i = 0; i < 12; ++i) {
    const std::string full = kMonths[i];
    if (t == full.substr(0, 3) || t == full) return i + 1;
  }
  return 0;
}

bool IsWeekday(const std::string& token) {
  static const char* const kDays[] = {"monday", "tuesday", "wednesday", "thursday",
                                      "friday", "saturday", "sunday"};
  const std::string t = LowerAscii(token);
  if (t.size() < 3) return false;
  for (const char* d : kDays) {
    const std::string full = d;
    if (t == full.substr(0, 3) || t == full) return true;
  }
  return false;
}

// Zone name or numeric offset in minutes east of UTC.
bool ZoneOffset(const std::string& token, int& minutes) {
  static const struct {
    const char* name;
    int hours;
  } kZones[] = {{"GMT", 0},  {"UTC", 0},  {"UT", 0},   {"Z", 0},   {"EST", -5},
                {"EDT", -4}, {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6},
                {"PST", -8}, {"PDT", -7}};
  for (const auto& z : kZones)
    if (SameTextAscii(token, z.name)) {
      minutes = z.hours * 60;
      return true;
    }
  if (token.size() == 5 && (token[0] == '+' || token[0] == '-')) {
    for (size_t i = 1; i < 5; ++i)
      if (!IsDigit(token[i])) return false;
    const int hh = (token[1] - '0') * 10 + (token[2] - '0');
    const int mm = (token[3] - '0') * 10 + (token[4] - '0');
    if (hh > 23 || mm > 59) return false;
    minutes = (token[0] == '-' ? -1 : 1) * (hh * 60 + mm);
    return true;
  }
  return false;
}

bool ParseTime(const std::string& token, int& h, int& m, int& s) {
  // h:mm[:ss]
  int parts[3] = {0, 0, 0};
  int n = 0;
  size_t digits = 0;
  for (char c : token) {
    if (IsDigit(c)) {
      if (++digits > 2) return false;
      parts[n] = parts[n] * 10 + (c - '0');
    } else if (c == ':') {
      if (digits == 0 || ++n > 2) return false;
      digits = 0;
    } else {
      return false;
    }
  }
  if (n < 1 || digits == 0) return false;
  h = parts[0];
  m = parts[1];
  s = parts[2];
  return true;
}

}  // namespace

double ParseHttpDateUtc(const std::string& text) {
  if (text.size() > 100) return 0;
  // Split at blanks and commas; "06-Nov-94" of the RFC 850 form splits at
  // its dashes too (a leading sign stays with a zone offset).
  std::vector<std::string> tokens;
  std::string cur;
  auto flush = [&] {
    if (!cur.empty()) tokens.push_back(cur);
    cur.clear();
  };
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ',') flush();
    else if (c == '-' && !cur.empty()) flush();
    else cur += c;
  }
  flush();

  int day = -1, month = 0, year = -1, h = -1, mi = 0, s = 0, zone = 0;
  bool haveZone = false;
  for (const auto& t : tokens) {
    int v = 0;
    if (t.find(':') != std::string::npos) {
      if (h >= 0 || !ParseTime(t, h, mi, s)) return 0;
    } else if (IsDigit(t[0])) {
      if (t.size() > 4) return 0;
      for (char c : t)
        if (!IsDigit(c)) return 0;
      v = std::stoi(t);
      if (t.size() <= 2 && day < 0) day = v;
      else if (year < 0) year = t.size() <= 2 ? (v < 50 ? 2000 + v : 1900 + v) : v;
      else return 0;
    } else if (!haveZone && ZoneOffset(t, zone)) {
      haveZone = true;
    } else if (int mon = MonthNumber(t); mon != 0 && month == 0) {
      month = mon;
    } else if (!IsWeekday(t)) {
      return 0;
    }
  }
  if (day < 0 || month == 0 || year < 0 || h < 0) return 0;
  if (s == 60) s = 59;  // a leap second shown as the second before
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int monthDays = month == 2 && leap ? 29 : kDays[month - 1];
  if (year < 1 || day < 1 || day > monthDays || h > 23 || mi > 59 || s > 59) return 0;
  return EncodeDateTime(year, month, day, h, mi, s) - zone / 1440.0;
}

double ParseHttpDate(const std::string& text) {
  const double utc = ParseHttpDateUtc(text);
  if (utc == 0) return 0;
  // The local offset in force at that instant (summer or winter time).
  const auto at = static_cast<time_t>(std::llround(UnixFromDateTime(utc)));
  try {
    return utc + static_cast<double>(platform::Clock().UtcOffset(at)) / kSecondsPerDay;
  } catch (const std::runtime_error&) {
    return utc;
  }
}

}  // namespace quovix
