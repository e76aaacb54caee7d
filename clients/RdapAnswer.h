// Reading an RDAP answer (RFC 9083 JSON, RFC 9537 redactions) into readable
// output lines: JSON text in, lines out, nothing else touched, so any text a
// server sends can be tried on it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quovix {

// Longest answer read (as for the port-43 answers); a longer one is refused.
constexpr std::size_t kRdapMaxAnswer = 1024 * 1024;
// Deepest nesting of arrays and objects accepted. Real answers nest about
// ten levels (entities in entities with their jCards).
constexpr int kRdapMaxNesting = 32;
// Most lines made from one answer.
constexpr std::size_t kRdapMaxLines = 2000;

struct RdapRenderOptions {
  // Notices and remarks too (the output is not being formatted).
  bool WithNotices = false;
};

// One output line of an answer: its text, and the field it shows with the
// value as received (cleaned), so a line can be told apart without parsing
// its text. Field names are lower case with underscores ("name", "status",
// "registration", "registrar", "nameserver", "contact_email", …).
struct RdapLine {
  std::string Text;
  std::string Field;
  std::string Value;
};

struct RdapAnswer {
  // An RDAP object or error object was read; otherwise Refusal says why not.
  bool Ok = false;
  std::string Refusal;
  std::vector<RdapLine> Lines;
  // objectClassName as received ("domain", "ip network", "autnum", …).
  std::string ObjectClass;
  // errorCode of an error answer (RFC 9083 section 6), 0 otherwise.
  int ErrorCode = 0;
  // The registrar's RDAP URL: a "related" link with the RDAP media type
  // (empty when the answer names none).
  std::string RelatedUrl;
};

// The lines of one answer. Every text taken from the answer is cut to a
// readable length and has its control characters replaced; redacted fields
// are shown as redacted. Never throws.
RdapAnswer RenderRdapAnswer(const std::string& json, const RdapRenderOptions& options = {});

}  // namespace quovix
