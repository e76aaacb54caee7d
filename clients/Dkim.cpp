#include "clients/Dkim.h"

#include "clients/TagList.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>

namespace quovix::dkim {

namespace {

constexpr std::size_t kMaxSelectors = 32;
constexpr std::size_t kMaxKeyText = 8192;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Base64 with the blanks a record may carry between its strings; false for
// any other character or a length that does not decode.
bool DecodeBase64(std::string_view text, std::string& out) {
  std::string clean;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=') return false;
    clean += c;
  }
  if (clean.empty() || clean.size() % 4 != 0 || clean.size() > kMaxKeyText) return false;
  out.assign(clean.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(clean.data()), static_cast<int>(clean.size()));
  if (n < 0) return false;
  std::size_t pad = 0;
  if (clean.back() == '=') ++pad;
  if (clean.size() > 1 && clean[clean.size() - 2] == '=') ++pad;
  out.resize(static_cast<std::size_t>(n) - pad);
  return true;
}

// The size of an RSA key given as SubjectPublicKeyInfo or as a bare
// RSAPublicKey; 0 when it is neither.
int RsaBits(const std::string& der) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
  if (!key) {
    p = reinterpret_cast<const unsigned char*>(der.data());
    key = d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size()));
  }
  if (!key) return 0;
  const int bits = EVP_PKEY_base_id(key) == EVP_PKEY_RSA ? EVP_PKEY_get_bits(key) : 0;
  EVP_PKEY_free(key);
  return bits;
}

bool IsLabel(const std::string& s) {
  if (s.empty() || s.size() > 63) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
}

}  // namespace

void ParseRecord(std::string_view text, Key& key) {
  key.Text = std::string(text.substr(0, std::min(text.size(), kMaxKeyText)));
  bool first = true, hasP = false;
  std::string p;
  for (const TTagPart& tag : SplitTagList(key.Text, 64)) {
    if (!tag.HasValue) {
      key.Problems.push_back("syntax");
      first = false;
      continue;
    }
    const std::string& name = tag.Name;
    const std::string_view value = tag.Value;
    if (name == "v" && (!first || value != "DKIM1")) key.Problems.push_back("version");
    first = false;
    if (name == "p") {
      hasP = true;
      p = std::string(value);
    } else if (name == "k") {
      key.Type = Lower(value);
    } else if (name == "t") {
      for (std::size_t i = 0; i <= value.size();) {
        std::size_t colon = value.find(':', i);
        if (colon == std::string_view::npos) colon = value.size();
        if (Lower(Trim(value.substr(i, colon - i))) == "y") key.Testing = true;
        i = colon + 1;
      }
    } else if (name == "h") {
      key.Hashes = std::string(value);
    }
  }
  if (!hasP) {
    key.Problems.push_back("key");
    return;
  }
  std::string compact;
  for (char c : p)
    if (!std::isspace(static_cast<unsigned char>(c))) compact += c;
  if (compact.empty()) {
    key.Revoked = true;
    return;
  }
  std::string der;
  if (key.Type != "rsa" && key.Type != "ed25519") {
    key.Problems.push_back("type");
    return;
  }
  if (!DecodeBase64(compact, der)) {
    key.Problems.push_back("key");
    return;
  }
  if (key.Type == "ed25519") {
    if (der.size() == 32) key.Bits = 256;
    else key.Problems.push_back("key");
    return;
  }
  key.Bits = RsaBits(der);
  if (key.Bits == 0) key.Problems.push_back("key");
}

const std::vector<std::string>& BuiltInSelectors() {
  static const std::vector<std::string> kSelectors = {"default", "dkim", "mail", "selector1", "selector2",
                                                       "google", "k1", "s1", "s2"};
  return kSelectors;
}

std::vector<Key> LookUp(spf::IDns& dns, const std::string& domain, const std::vector<std::string>& selectors) {
  std::vector<Key> out;
  for (const std::string& sel : selectors) {
    if (out.size() >= kMaxSelectors) break;
    Key k;
    k.Selector = sel;
    k.Name = sel + "._domainkey." + domain;
    if (!IsLabel(sel)) {
      k.Problems.push_back("selector");
      out.push_back(std::move(k));
      continue;
    }
    const spf::DnsAnswer a = dns.Query(k.Name, spf::kTxt);
    if (a.Status == spf::DnsStatus::Failed) {
      k.DnsFailed = true;
    } else {
      // Any TXT record there is taken for the key record (v= is optional).
      std::vector<std::string> records;
      for (const std::string& t : a.Values)
        if (!t.empty()) records.push_back(t);
      if (records.size() > 1) {
        k.Found = true;
        k.Several = true;
      } else if (records.size() == 1) {
        k.Found = true;
        ParseRecord(records.front(), k);
      }
    }
    out.push_back(std::move(k));
  }
  return out;
}

}  // namespace quovix::dkim
