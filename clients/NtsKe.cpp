#include "clients/NtsKe.h"

#include <openssl/ssl.h>
#include <unistd.h>

#include "clients/TlsSession.h"
#include "common/Deadline.h"
#include "common/fMain.h"
#include "platform/Connect.h"

namespace quovix {
namespace {

constexpr std::size_t kMaxAnswerBytes = 65536;

std::string Be16(std::uint16_t v) {
  return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

std::uint16_t Get16(const std::string& s, std::size_t at) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(s[at]) << 8) |
                                    static_cast<unsigned char>(s[at + 1]));
}

}  // namespace

std::string EncodeNtsKeRecord(bool critical, std::uint16_t type, const std::string& body) {
  return Be16(static_cast<std::uint16_t>((critical ? 0x8000 : 0) | (type & 0x7FFF))) +
         Be16(static_cast<std::uint16_t>(body.size())) + body;
}

std::size_t NtsAeadKeyLength(std::uint16_t aead) {
  switch (aead) {
    case kNtsAeadAesSivCmac256: return 32;
    case kNtsAeadAesSivCmac384: return 48;
    case kNtsAeadAesSivCmac512: return 64;
    default: return 0;
  }
}

std::string NtsAeadName(std::uint16_t aead) {
  const std::size_t bits = NtsAeadKeyLength(aead) * 8;
  return bits ? "AEAD_AES_SIV_CMAC_" + std::to_string(bits) : "AEAD " + std::to_string(aead);
}

std::string NtsKeRequest() {
  return EncodeNtsKeRecord(true, kNtsKeNextProtocol, Be16(0)) +
         EncodeNtsKeRecord(true, kNtsKeAead,
                           Be16(kNtsAeadAesSivCmac256) + Be16(kNtsAeadAesSivCmac384) +
                               Be16(kNtsAeadAesSivCmac512)) +
         EncodeNtsKeRecord(true, kNtsKeEnd, {});
}

bool ParseNtsKeRecords(const std::string& data, std::vector<NtsKeRecord>& records, bool& complete) {
  records.clear();
  complete = false;
  std::size_t at = 0;
  while (at + 4 <= data.size()) {
    if (records.size() >= kNtsKeMaxRecords) return false;
    const std::uint16_t head = Get16(data, at), length = Get16(data, at + 2);
    if (at + 4 + length > data.size()) return true;  // the rest is still to come
    records.push_back({(head & 0x8000) != 0, static_cast<std::uint16_t>(head & 0x7FFF),
                       data.substr(at + 4, length)});
    at += 4 + length;
    if (records.back().Type == kNtsKeEnd) {
      complete = true;
      return true;
    }
  }
  return true;
}

void ReadNtsKeAnswer(const std::vector<NtsKeRecord>& records, NtsKeResult& r) {
  bool protocol = false, aead = false;
  for (const NtsKeRecord& rec : records) {
    switch (rec.Type) {
      case kNtsKeEnd:
      case kNtsKeWarning:
        break;
      case kNtsKeError:
        r.Status = NtsKeStatus::ErrorRecord;
        r.ErrorCode = rec.Body.size() >= 2 ? Get16(rec.Body, 0) : -1;
        return;
      case kNtsKeNextProtocol:
        for (std::size_t i = 0; i + 1 < rec.Body.size(); i += 2)
          if (Get16(rec.Body, i) == 0) protocol = true;
        break;
      case kNtsKeAead:
        // The server names one of those offered.
        if (rec.Body.size() >= 2 && NtsAeadKeyLength(Get16(rec.Body, 0)) != 0) {
          aead = true;
          r.Aead = Get16(rec.Body, 0);
        }
        break;
      case kNtsKeCookie:
        // A bounded number of non-empty cookies of a sane size.
        if (!rec.Body.empty() && rec.Body.size() <= 1024 && r.Cookies.size() < 8)
          r.Cookies.push_back(rec.Body);
        break;
      case kNtsKeServer:
        r.NtpServer.clear();
        for (const char c : rec.Body.substr(0, 255))
          r.NtpServer += (c > 0x20 && c < 0x7F) ? c : '?';
        break;
      case kNtsKePort_:
        if (rec.Body.size() == 2) r.NtpPort = Get16(rec.Body, 0);
        break;
      default:
        if (rec.Critical) {
          r.Status = NtsKeStatus::Malformed;
          return;
        }
    }
  }
  if (!protocol) r.Status = NtsKeStatus::NoProtocol;
  else if (!aead) r.Status = NtsKeStatus::NoCommonAead;
  else if (r.Cookies.empty()) r.Status = NtsKeStatus::NoCookies;
  else if (r.NtpPort == 0) r.Status = NtsKeStatus::Malformed;
  else r.Status = NtsKeStatus::Ok;
}

NtsKeResult NtsKeyExchange(const std::string& host, std::uint16_t port, int timeoutMs,
                           const std::string& extraCaFile) {
  NtsKeResult r;
  const Deadline deadline = Deadline::In(timeoutMs);
  std::vector<IpAddress> addresses;
  if (const IpAddress literal = IpAddress::Parse(host); !literal.Empty())
    addresses.push_back(literal);
  else if (IsHostName(host))
    addresses = ResolveHostAddresses(host, deadline.LeftMs());
  if (addresses.empty()) return r;

  const platform::Reach reach = platform::ConnectTcp(addresses, port, deadline);
  if (reach.End != platform::ReachEnd::Reached) {
    r.Status = reach.End == platform::ReachEnd::Failed ? NtsKeStatus::Unreachable
                                                       : NtsKeStatus::Timeout;
    return r;
  }
  r.Address = reach.Address.ToString();
  TlsSession tls;
  TlsOptions options;
  options.ServerName = host;
  options.Alpn = {"ntske/1"};
  options.MinVersion = options.MaxVersion = TlsVersion::Tls13;
  options.ExtraCaFile = extraCaFile;
  options.RequestOcsp = false;
  options.RequireTrusted = true;
  auto finish = [&](NtsKeStatus s) {
    r.Status = s;
    tls.Close();
    ::close(reach.Fd);
    return r;
  };
  switch (tls.Handshake(reach.Fd, options, deadline)) {
    case TlsStatus::Ok:
      break;
    case TlsStatus::Untrusted:
      return finish(NtsKeStatus::Untrusted);
    case TlsStatus::TimedOut:
    case TlsStatus::Aborted:
      return finish(NtsKeStatus::Timeout);
    default:
      r.Detail = tls.Error();
      return finish(NtsKeStatus::Tls);
  }
  const unsigned char* alpn = nullptr;
  unsigned alpnLength = 0;
  SSL_get0_alpn_selected(tls.Native(), &alpn, &alpnLength);
  const std::string chosen = alpn ? std::string(reinterpret_cast<const char*>(alpn), alpnLength) : "";
  if (chosen != "ntske/1")
    return finish(NtsKeStatus::Alpn);
  if (tls.Write(NtsKeRequest(), deadline) != TlsStatus::Ok) return finish(NtsKeStatus::Timeout);

  std::string answer;
  std::vector<NtsKeRecord> records;
  bool complete = false;
  while (!complete) {
    char buf[4096];
    std::size_t got = 0;
    const TlsStatus st = tls.Read(buf, sizeof buf, got, deadline);
    if (st == TlsStatus::TimedOut || st == TlsStatus::Aborted) return finish(NtsKeStatus::Timeout);
    if (st != TlsStatus::Ok) break;
    answer.append(buf, got);
    if (answer.size() > kMaxAnswerBytes || !ParseNtsKeRecords(answer, records, complete))
      return finish(NtsKeStatus::Malformed);
  }
  if (!complete) return finish(NtsKeStatus::Malformed);
  ReadNtsKeAnswer(records, r);
  if (r.Status != NtsKeStatus::Ok) return finish(r.Status);
  // The keys of each direction: protocol 0 (NTPv4), the AEAD, 0 for the
  // client's requests and 1 for the server's answers.
  const std::string context = Be16(0) + Be16(r.Aead);
  if (!tls.ExportKeyingMaterial("EXPORTER-network-time-security", context + std::string(1, '\0'),
                                NtsAeadKeyLength(r.Aead), r.KeyC2S) ||
      !tls.ExportKeyingMaterial("EXPORTER-network-time-security", context + std::string(1, '\1'),
                                NtsAeadKeyLength(r.Aead), r.KeyS2C))
    return finish(NtsKeStatus::NoKeys);
  return finish(NtsKeStatus::Ok);
}

}  // namespace quovix
