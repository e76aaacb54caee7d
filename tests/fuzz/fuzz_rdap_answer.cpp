// The RDAP readers on arbitrary bytes: the answer renderer and the bootstrap
// file reader on the raw input, and the renderer on answers of a realistic
// shape whose values come from the input (raw bytes rarely make JSON that
// reaches the deeper parts).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzValues.h"

#include "clients/RdapAnswer.h"
#include "clients/RdapBootstrap.h"
#include "clients/RdapClient.h"

namespace {

// An answer with every part the renderer knows; each @ takes a value.
const char* const kTemplate = R"({
  "objectClassName": @, "handle": @, "ldhName": @, "unicodeName": @, "status": [@, @],
  "startAddress": @, "endAddress": @, "startAutnum": @, "endAutnum": @, "errorCode": @,
  "cidr0_cidrs": [{"v4prefix": @, "v6prefix": @, "length": @}],
  "events": [{"eventAction": @, "eventDate": @}],
  "entities": [{"roles": [@, "registrar"], "handle": @, "publicIds": [{"type": @, "identifier": @}],
    "vcardArray": ["vcard", [["fn", {}, "text", @], ["adr", {"cc": @}, "text", @],
                             ["tel", {"type": @}, "uri", @], ["email", {}, "text", @]]],
    "entities": [{"roles": [@], "vcardArray": @, "entities": @}], "links": @}, @],
  "nameservers": [{"ldhName": @, "ipAddresses": {"v4": [@], "v6": @}}],
  "secureDNS": {"delegationSigned": @, "dsData": [{"keyTag": @, "digest": @}]},
  "links": [{"rel": @, "type": @, "href": @}],
  "redacted": [{"name": {"type": @, "description": @}, "postPath": @, "prePath": @, "method": @,
                "reason": @}],
  "notices": [{"title": @, "description": [@], "links": @}], "remarks": @
})";

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// What every rendering keeps to, whatever the answer: bounded, every line
// names its field, no control character reaches a line.
void Check(const quovix::RdapAnswer& a) {
  if (a.Lines.size() > quovix::kRdapMaxLines + 1) std::abort();
  for (const quovix::RdapLine& l : a.Lines) {
    if (l.Field.empty()) std::abort();
    for (unsigned char c : l.Text)
      if (c < 0x20 || c == 0x7F) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string raw(reinterpret_cast<const char*>(data) + 1, size - 1);
  const uint8_t mode = data[0];

  if (mode % 4 == 0) {
    Check(quovix::RenderRdapAnswer(raw, {.WithNotices = (mode & 0x80) != 0}));
    (void)quovix::RdapAddressUrl("https://rdap.test/", raw);
    return 0;
  }
  if (mode % 4 == 1) {
    const auto registry = static_cast<quovix::RdapRegistry>((mode >> 2) % 4);
    const auto b = quovix::RdapBootstrap::Parse(raw, registry);
    (void)b.ForDomain("www.example.co.uk");
    (void)b.ForAddress("192.0.2.1");
    (void)b.ForAddress("2001:db8::1");
    (void)b.ForAsn(64500);
    return 0;
  }

  // The input split at zero bytes gives the values; the first byte of each
  // value tells how it goes in: quoted as a string, or as it is.
  const std::vector<std::string> values = quovix::fuzz::SplitAtZero(raw);
  std::string json;
  size_t next = 0;
  for (const char* p = kTemplate; *p; ++p) {
    if (*p != '@') {
      json += *p;
      continue;
    }
    const std::string v = next < values.size() ? values[next++] : std::string();
    if (v.empty())
      json += "null";
    else if (static_cast<unsigned char>(v[0]) & 1)
      json += Quoted(v.substr(1));
    else
      json += v.substr(1).empty() ? "0" : v.substr(1);
  }
  Check(quovix::RenderRdapAnswer(json, {.WithNotices = (mode & 0x80) != 0}));
  return 0;
}
