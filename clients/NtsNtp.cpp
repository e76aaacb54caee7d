#include "clients/NtsNtp.h"

#include <openssl/rand.h>

#include "clients/AesSiv.h"
#include "clients/NtsKe.h"

namespace quovix {
namespace {

constexpr std::size_t kHeaderSize = 48;
constexpr std::size_t kUniqueIdLength = 32;
constexpr std::size_t kNonceLength = 16;
constexpr std::size_t kMaxCookieLength = 1024;

std::uint16_t Get16(const std::string& s, std::size_t at) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(s[at]) << 8) |
                                    static_cast<unsigned char>(s[at + 1]));
}

std::string Be16(std::size_t v) {
  return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}

std::string Padded(std::string s) {
  s.resize((s.size() + 3) / 4 * 4, '\0');
  return s;
}

std::string RandomBytes(std::size_t n) {
  std::string s(n, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(s.data()), static_cast<int>(n)) != 1) return {};
  return s;
}

}  // namespace

std::string EncodeNtpExtensionField(std::uint16_t type, const std::string& body) {
  const std::string padded = Padded(body);
  return Be16(type) + Be16(4 + padded.size()) + padded;
}

bool ParseNtpExtensionFields(const std::string& data, std::size_t offset,
                             std::vector<NtpExtensionField>& fields) {
  fields.clear();
  std::size_t at = offset;
  while (at < data.size()) {
    if (fields.size() >= kNtpMaxFields || data.size() - at < 4) return false;
    const std::size_t length = Get16(data, at + 2);
    if (length < 4 || length % 4 != 0 || length > data.size() - at) return false;
    fields.push_back({Get16(data, at), at, data.substr(at + 4, length - 4)});
    at += length;
  }
  return true;
}

bool BuildNtsRequest(const std::string& header, NtsSession& session, std::string& packet,
                     std::string& uniqueId) {
  if (header.size() != kHeaderSize || session.Cookies.empty() ||
      session.KeyC2S.size() != NtsAeadKeyLength(session.Aead))
    return false;
  uniqueId = RandomBytes(kUniqueIdLength);
  const std::string nonce = RandomBytes(kNonceLength);
  if (uniqueId.empty() || nonce.empty()) return false;
  const std::string cookie = session.Cookies.front();
  session.Cookies.erase(session.Cookies.begin());
  packet = header + EncodeNtpExtensionField(kNtsUniqueIdField, uniqueId) +
           EncodeNtpExtensionField(kNtsCookieField, cookie);
  // Each placeholder is as long as the cookie sent, so that the answer
  // grows no larger than the request.
  for (std::size_t have = session.Cookies.size() + 1; have < kNtsCookiesKept; ++have)
    packet += EncodeNtpExtensionField(kNtsPlaceholderField, std::string(cookie.size(), '\0'));
  // Nothing to encrypt: the tag alone authenticates header and fields.
  std::string sealed;
  if (!SivEncrypt(session.KeyC2S, {packet, nonce}, {}, sealed)) return false;
  packet += EncodeNtpExtensionField(
      kNtsAuthenticatorField, Be16(nonce.size()) + Be16(sealed.size()) + Padded(nonce) + sealed);
  return true;
}

NtsAnswer CheckNtsAnswer(const std::string& packet, const std::string& uniqueId,
                         const NtsSession& session, std::vector<std::string>& cookies) {
  cookies.clear();
  std::vector<NtpExtensionField> fields;
  if (packet.size() < kHeaderSize || !ParseNtpExtensionFields(packet, kHeaderSize, fields))
    return NtsAnswer::Malformed;
  const NtpExtensionField* auth = nullptr;
  bool ours = false;
  for (const NtpExtensionField& f : fields) {
    if (f.Type == kNtsAuthenticatorField) {
      auth = &f;
      break;
    }
    if (f.Type == kNtsUniqueIdField && f.Body == uniqueId) ours = true;
  }
  if (!ours) {
    // A NAK carries no authenticator, so its identifier may stand anywhere.
    for (const NtpExtensionField& f : fields)
      if (f.Type == kNtsUniqueIdField && f.Body == uniqueId) ours = true;
    if (!ours || auth) return NtsAnswer::Foreign;
  }
  // Stratum 0 with the code NTSN: the server did not take our cookie.
  if (packet[1] == 0 && packet.compare(12, 4, "NTSN") == 0) return NtsAnswer::Nak;
  if (!auth) return NtsAnswer::AuthFailed;
  const std::string& body = auth->Body;
  if (body.size() < 4) return NtsAnswer::Malformed;
  const std::size_t nonceLength = Get16(body, 0), sealedLength = Get16(body, 2);
  const std::size_t noncePadded = (nonceLength + 3) / 4 * 4;
  if (nonceLength == 0 || sealedLength < kSivTagLength ||
      4 + noncePadded + sealedLength > body.size())
    return NtsAnswer::Malformed;
  std::string plain;
  if (!SivDecrypt(session.KeyS2C,
                  {packet.substr(0, auth->Offset), body.substr(4, nonceLength)},
                  body.substr(4 + noncePadded, sealedLength), plain))
    return NtsAnswer::AuthFailed;
  std::vector<NtpExtensionField> inner;
  if (!ParseNtpExtensionFields(plain, 0, inner)) return NtsAnswer::Malformed;
  for (const NtpExtensionField& f : inner)
    if (f.Type == kNtsCookieField && !f.Body.empty() && f.Body.size() <= kMaxCookieLength &&
        cookies.size() < kNtsCookiesKept)
      cookies.push_back(f.Body);
  return NtsAnswer::Ok;
}

}  // namespace quovix
