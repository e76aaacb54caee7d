#include "clients/Dane.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>

namespace quovix {
namespace {

// The part of the certificate the selector names, in DER; empty when the
// bytes are no certificate.
std::string Selected(const std::string& der, std::uint8_t selector) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())),
                                                   X509_free);
  if (!cert) return {};
  if (selector == 0) return der;
  unsigned char* spki = nullptr;
  const int n = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &spki);
  if (n <= 0) return {};
  std::string out(reinterpret_cast<const char*>(spki), static_cast<std::size_t>(n));
  OPENSSL_free(spki);
  return out;
}

// The selected bytes as the matching type compares them; empty on failure.
std::string Associated(const std::string& selected, std::uint8_t matchingType) {
  if (matchingType == 0 || selected.empty()) return selected;
  const EVP_MD* md = matchingType == 1 ? EVP_sha256() : EVP_sha512();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!EVP_Digest(selected.data(), selected.size(), digest, &length, md, nullptr)) return {};
  return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace

TDaneMatch MatchTlsa(const TTlsaData& record, const std::vector<std::string>& chainDer) {
  if (record.Usage == 0 || record.Usage == 1) return TDaneMatch::NotForSmtp;
  if (record.Usage > 3 || record.Selector > 1 || record.MatchingType > 2) return TDaneMatch::Unusable;
  // DANE-EE names the server's certificate; DANE-TA an authority of its chain.
  const std::size_t candidates = record.Usage == 3 ? std::min<std::size_t>(1, chainDer.size()) : chainDer.size();
  for (std::size_t i = 0; i < candidates; ++i) {
    const std::string data = Associated(Selected(chainDer[i], record.Selector), record.MatchingType);
    if (!data.empty() && data == record.Data) return TDaneMatch::Match;
  }
  return TDaneMatch::NoMatch;
}

}  // namespace quovix
