// NTS key establishment (RFC 8915, section 4): a TLS 1.3 connection with
// ALPN "ntske/1" to port 4460, the records that negotiate NTPv4 and an
// AEAD algorithm, and what the server hands out for the authenticated NTP
// exchanges: cookies, the NTP server and port, and the keys exported from
// the TLS session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quovix {

constexpr std::uint16_t kNtsKePort = 4460;
constexpr std::uint16_t kNtsAeadAesSivCmac256 = 15;
constexpr std::uint16_t kNtsAeadAesSivCmac384 = 16;
constexpr std::uint16_t kNtsAeadAesSivCmac512 = 17;
// The key length of an AEAD the client offers (0 for any other), and its
// registered name ("AEAD_AES_SIV_CMAC_256").
std::size_t NtsAeadKeyLength(std::uint16_t aead);
std::string NtsAeadName(std::uint16_t aead);

// Record types.
enum : std::uint16_t {
  kNtsKeEnd = 0,
  kNtsKeNextProtocol = 1,
  kNtsKeError = 2,
  kNtsKeWarning = 3,
  kNtsKeAead = 4,
  kNtsKeCookie = 5,
  kNtsKeServer = 6,
  kNtsKePort_ = 7,
};

struct NtsKeRecord {
  bool Critical = false;
  std::uint16_t Type = 0;
  std::string Body;
};

std::string EncodeNtsKeRecord(bool critical, std::uint16_t type, const std::string& body);
// The client's request: NTPv4 as the next protocol, the AES-SIV algorithms
// (AES-SIV-CMAC-256 first), end.
std::string NtsKeRequest();

// The records in data up to and with End of Message. Complete once that
// record came (what follows it is not read); a record cut off at the end is
// still to come. False for more than kNtsKeMaxRecords records.
constexpr std::size_t kNtsKeMaxRecords = 64;
bool ParseNtsKeRecords(const std::string& data, std::vector<NtsKeRecord>& records, bool& complete);

enum class NtsKeStatus {
  Ok,
  NoAddress,     // the name has no address
  Unreachable,   // no TCP connection (refused, no route)
  Timeout,       // no connection, handshake or answer in time
  Tls,           // the TLS handshake failed (Detail says why)
  Untrusted,     // the certificate is not trusted or not the server's
  Alpn,          // the server did not agree to ntske/1
  ErrorRecord,   // the server sent an Error record (ErrorCode)
  NoProtocol,    // the server does not offer NTPv4
  NoCommonAead,  // the server chose none of the algorithms offered
  NoCookies,     // no cookie came
  Malformed,     // the records cannot be read, or ended without End of Message
  NoKeys,        // the keys cannot be exported from the session
};

struct NtsKeResult {
  NtsKeStatus Status = NtsKeStatus::NoAddress;
  std::string Detail;        // TLS: OpenSSL's reason
  int ErrorCode = -1;        // of an Error record
  std::uint16_t Aead = 0;
  std::vector<std::string> Cookies;
  std::string NtpServer;     // empty: the KE server's own address
  std::uint16_t NtpPort = 123;
  std::string KeyC2S, KeyS2C;
  std::string Address;       // the KE server's address that answered
};

// What the server's records say, once complete: protocol, AEAD, cookies,
// server and port (Status Ok, or why not). Unknown critical records make
// the answer unusable (Malformed), as the RFC asks.
void ReadNtsKeAnswer(const std::vector<NtsKeRecord>& records, NtsKeResult& result);

// The whole key establishment with host (a name or an address literal) at
// port, within timeoutMs; extraCaFile: authorities trusted beside the
// system's store (may be empty).
NtsKeResult NtsKeyExchange(const std::string& host, std::uint16_t port, int timeoutMs,
                           const std::string& extraCaFile = {});

}  // namespace quovix
