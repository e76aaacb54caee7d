// The NTS extension fields of an NTPv4 exchange (RFC 8915, section 5): the
// client's request with its unique identifier, one cookie, placeholders for
// more and the authenticator, and the check of the server's answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quovix {

// Extension field types.
enum : std::uint16_t {
  kNtsUniqueIdField = 0x0104,
  kNtsCookieField = 0x0204,
  kNtsPlaceholderField = 0x0304,
  kNtsAuthenticatorField = 0x0404,
};

// What key establishment gave for the exchanges: the AEAD, the keys of both
// directions, and the cookies, each sent once and then dropped.
struct NtsSession {
  std::uint16_t Aead = 0;
  std::string KeyC2S, KeyS2C;
  std::vector<std::string> Cookies;
};
// The client keeps this many cookies at most (and asks for as many).
constexpr std::size_t kNtsCookiesKept = 8;

// One extension field as read; Body without its header.
struct NtpExtensionField {
  std::uint16_t Type = 0;
  std::size_t Offset = 0;  // of the field's header in the packet
  std::string Body;
};
// The extension fields of data from offset on, up to kNtpMaxFields; false
// when a field's length is below 4, not a multiple of 4, or runs past the
// end, or bytes are left over.
constexpr std::size_t kNtpMaxFields = 32;
bool ParseNtpExtensionFields(const std::string& data, std::size_t offset,
                             std::vector<NtpExtensionField>& fields);
std::string EncodeNtpExtensionField(std::uint16_t type, const std::string& body);

// The request: the 48-byte header, then a fresh unique identifier (in
// uniqueId), the first of the session's cookies (taken from it),
// placeholders to bring the cookies back to kNtsCookiesKept, and the
// authenticator over all of it. False without a cookie or keys.
bool BuildNtsRequest(const std::string& header, NtsSession& session, std::string& packet,
                     std::string& uniqueId);

enum class NtsAnswer {
  Ok,          // authenticated; new cookies in cookies
  Foreign,     // it does not echo our unique identifier: not an answer to us
  Nak,         // an NTS NAK (kiss code NTSN) echoing our identifier
  AuthFailed,  // no authenticator, or it does not verify with the server's key
  Malformed,   // the extension fields cannot be read
};
// The answer packet (header and fields) to the request that carried
// uniqueId. Only fields before the authenticator count, as only they are
// authenticated.
NtsAnswer CheckNtsAnswer(const std::string& packet, const std::string& uniqueId,
                         const NtsSession& session, std::vector<std::string>& cookies);

}  // namespace quovix
